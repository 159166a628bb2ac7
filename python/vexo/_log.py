"""Decoding candump logs in C: the text read in large blocks, parsed by Vexo_parseCandump
and decoded by Vexo_decodeFrames, the records turned into numpy arrays and a DataFrame
without Python running per frame."""

import ctypes
import os

import numpy as np

from . import _lib
from ._lib import lib, utf16_at

CHUNK_BYTES = 8 << 20        # log text read at once
BATCH_FRAMES = 1 << 12       # frames parsed (and decoded) at once; blocks that stay in the cache
BATCH_RECORDS = 1 << 14      # records decoded at once (1.5 MiB)
TEXT_BYTES = 1 << 16         # room for ASCII signal bytes per decoding call
NO_BUS = 0xFFFFFFFF


def _address(array):
    return array.ctypes.data


class PointerTable:
    """Values looked up by node address for whole arrays at once: a table indexed by
    (address / 8) mod m, with m chosen so that the known addresses do not collide."""

    def __init__(self, addresses, values):
        keys = np.array(addresses, dtype=np.uint64)
        self.modulus = max(len(keys), 1)
        while len(keys) and len(np.unique((keys >> np.uint64(3)) % np.uint64(self.modulus))) < len(keys):
            self.modulus += 1
        slot = (keys >> np.uint64(3)) % np.uint64(self.modulus)
        self.keys = np.zeros(self.modulus, dtype=np.uint64)
        self.values = np.full(self.modulus, -1, dtype=np.int64)
        self.keys[slot] = keys
        self.values[slot] = values

    def lookup(self, addresses):
        """The value of each address; -1 for one not in the table."""
        slot = ((addresses >> np.uint64(3)) % np.uint64(self.modulus)).astype(np.intp)
        found = self.values[slot]
        found[self.keys[slot] != addresses] = -1
        return found


class Columns:
    """The wide format's columns: one per signal short name, FRAME.SIGNAL for names that
    more than one frame carries; signal instances map to their column."""

    def __init__(self, db):
        placements = []  # (frame name, signal)
        for f in db.frames:
            placements += [(f.name, s) for s in f.signals]
        for channel, signals in db._channel_signals():
            placements += [(channel, s) for s in signals]
        frames_of = {}
        for frame, s in placements:
            frames_of.setdefault(s.name, set()).add(frame)
        self.names, self.short_names, self.is_text = [], [], []
        index, by_instance = {}, {}
        for frame, s in placements:
            name = s.name if len(frames_of[s.name]) == 1 else f"{frame}.{s.name}"
            if name not in index:
                index[name] = len(self.names)
                self.names.append(name)
                self.short_names.append(s.name)
                self.is_text.append(s.is_text)
            by_instance.setdefault(s.instance, index[name])
        self.lookup = PointerTable(list(by_instance), list(by_instance.values())).lookup

    def select(self, signals):
        """Columns chosen by names (a short name picks every column of that signal)."""
        if signals is None:
            return np.ones(len(self.names), dtype=bool)
        if isinstance(signals, str):
            signals = [signals]
        chosen = np.zeros(len(self.names), dtype=bool)
        for wanted in signals:
            hits = [i for i, (n, s) in enumerate(zip(self.names, self.short_names)) if wanted in (n, s)]
            if not hits:
                raise KeyError(f"unknown signal {wanted}")
            chosen[hits] = True
        return chosen


class Decoder:
    """Decode plans for every channel of a database, and the buffers they decode into."""

    def __init__(self, db):
        self.db = db
        self.plans = []
        for channel in db.channels:
            plan = ctypes.c_void_p()
            if lib.Vexo_createDecodePlan(channel, None, 0, ctypes.byref(plan)) != _lib.S_OK:
                self.close()
                raise _lib_error("creating a decode plan")
            self.plans.append(plan.value)
        self.columns = Columns(db)
        self.frame_of_triggering = PointerTable([f.triggering for f in db.frames], range(len(db.frames)))
        self.frame_names = [f.name for f in db.frames] + [db._name(c) for c in db.channels]
        self.records = np.empty(BATCH_RECORDS, dtype=_lib.RECORD_DTYPE)
        self.text = ctypes.create_string_buffer(TEXT_BYTES)
        self.texts = {}
        self.ascii = []

    def close(self):
        for plan in self.plans:
            lib.Vexo_destroyDecodePlan(plan)
        self.plans = []

    def __del__(self):
        self.close()

    def frame_codes(self, triggerings, channel):
        """Index into frame_names of each record's frame (the channel's name for a null
        triggering, the channel's own PDU instances)."""
        codes = self.frame_of_triggering.lookup(triggerings)
        codes[codes < 0] = len(self.db.frames) + channel
        return codes

    def value_text(self, address):
        text = self.texts.get(address)
        if text is None:
            text = self.texts[address] = utf16_at(address)
        return text

    def decode(self, frames, count, codes=False):
        """Decodes count frames (a FRAME_DTYPE array). Gives, per frame description that
        matched, its frame's index in the batch ("frame", in order) and with codes its
        index into frame_names ("code"); per signal value its row (index into those),
        column, value (float), value text address and ASCII text index ("ascii", -1
        for none)."""
        parts = []
        for channel, plan in enumerate(self.plans):
            start = 0
            while start < count:
                done = _lib.BatchCount()
                hr = lib.Vexo_decodeFrames(plan, _address(frames) + start * _lib.FRAME_DTYPE.itemsize,
                                           count - start, _address(self.records), BATCH_RECORDS, self.text,
                                           TEXT_BYTES, ctypes.byref(done))
                if hr < 0 or (hr == _lib.S_FALSE and done.frames == 0):
                    raise _lib_error("decoding frames", hr)
                parts.append(self._extract(self.records[:done.records], start, channel, codes))
                start += done.frames
        if not parts:
            return _empty_records()
        if len(parts) == 1:
            return parts[0]
        rows = np.cumsum([0] + [len(p["frame"]) for p in parts[:-1]])
        merged = {k: np.concatenate([p[k] for p in parts]) for k in parts[0] if k != "row"}
        merged["row"] = np.concatenate([p["row"] + offset for p, offset in zip(parts, rows)])
        if len(self.plans) > 1:  # the channels' descriptions of a frame in channel order
            order = np.argsort(merged["frame"], kind="stable")
            merged["frame"] = merged["frame"][order]
            if codes:
                merged["code"] = merged["code"][order]
            new_row = np.empty_like(order)
            new_row[order] = np.arange(len(order))
            merged["row"] = new_row[merged["row"]]
            by_row = np.argsort(merged["row"], kind="stable")
            for k in ("row", "column", "value", "valueText", "ascii"):
                merged[k] = merged[k][by_row]
        return merged

    def _extract(self, r, start, channel, codes):
        kind = r["kind"]
        is_frame = kind == _lib.RECORD_FRAME
        at_frame = np.flatnonzero(is_frame)
        at_value = np.flatnonzero(kind <= _lib.RECORD_TEXT)
        v = _Fields(r, at_value)  # the signal records' fields, each gathered when first read
        bits = v["value"]
        value = bits.view(np.float64).copy()
        value_type = v["valueType"]
        for kind_code, as_type in ((1, np.uint64), (2, np.int64)):
            hit = value_type == kind_code
            if hit.any():
                value[hit] = bits[hit].view(as_type).astype(np.float64)
        # Encodings the conversion cannot decode give the raw value, as the tool shows it.
        bad = v["status"] < 0
        if bad.any():
            value[bad] = v["rawValue"][bad].astype(np.float64)
        # ASCII signals' texts go to a list; records hold their index in it (-1: none).
        text = np.full(len(v), -1, dtype=np.int64)
        for i in np.flatnonzero(v["kind"] == _lib.RECORD_TEXT):
            text[i] = len(self.ascii)
            self.ascii.append(ctypes.string_at(int(v["text"][i]), int(v["textLength"][i])).decode("latin-1"))
            value[i] = np.nan
        part = {
            "frame": r["frameIndex"][at_frame].astype(np.int64) + start,
            "row": np.cumsum(is_frame)[at_value] - 1,
            "column": self.columns.lookup(v["signalInstance"]),
            "value": value,
            "valueText": v["valueText"],
            "ascii": text,
        }
        if codes:
            part["code"] = self.frame_codes(r["frameTriggering"][at_frame], channel)
        return part

    def decode_one(self, identifier, data, extended):
        frames = np.zeros(1, dtype=_lib.FRAME_DTYPE)
        buffer = ctypes.create_string_buffer(data, max(len(data), 1))
        frames[0] = (identifier, _lib.FLAG_CANEXTENDED if extended else 0, len(data), 0,
                     ctypes.addressof(buffer))
        self.ascii = []
        r = self.decode(frames, 1)
        result = {}
        for column, value, ascii in zip(r["column"], r["value"], r["ascii"]):
            if column >= 0:
                result[self.columns.short_names[column]] = self.ascii[ascii] if ascii >= 0 else float(value)
        return result


class _Fields:
    """Fields of some records of a structured array, gathered one field at a time (much
    faster than gathering whole records)."""

    def __init__(self, records, at):
        self.records, self.at, self.cache = records, at, {}

    def __len__(self):
        return len(self.at)

    def __getitem__(self, name):
        if name not in self.cache:
            self.cache[name] = self.records[name][self.at]
        return self.cache[name]


def _lib_error(what, hr=0):
    from ._database import Error
    return Error(f"{what} failed (0x{hr & 0xFFFFFFFF:08X})")


def _empty_records():
    return {"frame": np.zeros(0, np.int64), "code": np.zeros(0, np.int64), "row": np.zeros(0, np.int64),
            "column": np.zeros(0, np.int64), "value": np.zeros(0), "valueText": np.zeros(0, np.uint64),
            "ascii": np.zeros(0, np.int64)}


def _line_start(handle, position, size):
    """The first line start at or after position."""
    if position <= 0:
        return 0
    if position >= size:
        return size
    handle.seek(position - 1)
    while True:
        block = handle.read(1 << 16)
        if not block:
            return size
        newline = block.find(b"\n")
        if newline >= 0:
            return handle.tell() - len(block) + newline + 1


class LogReader:
    """Reads the lines of a log file that start in the byte range [start, end) and
    parses them in blocks; counts what is no data frame."""

    def __init__(self, path, start=0, end=None):
        self.path = os.fspath(path)
        self.start, self.end = start, end
        self.frames = np.zeros(BATCH_FRAMES, dtype=_lib.FRAME_DTYPE)
        self.lines = np.zeros(BATCH_FRAMES, dtype=_lib.LINE_DTYPE)
        self.data = np.zeros(BATCH_FRAMES * 64, dtype=np.uint8)
        self.buses = _lib.LogBuses()
        self.counts = dict(lines=0, frames=0, remote=0, errors=0, blank=0, garbage=0, first_garbage=None)

    def bus_names(self):
        return [self.buses.names[i].value.decode("latin-1") for i in range(self.buses.count)]

    def blocks(self):
        """Yields (frames, lines, count, text) per parsed block; text is the log text the
        lines' offsets count in."""
        with open(self.path, "rb") as handle:
            size = os.fstat(handle.fileno()).st_size
            begin = _line_start(handle, self.start, size)
            stop = size if self.end is None else _line_start(handle, self.end, size)
            handle.seek(begin)
            position, carry = begin, b""
            while position < stop or carry:
                piece = handle.read(min(CHUNK_BYTES, stop - position)) if position < stop else b""
                position += len(piece)
                if not piece:
                    stop = position  # the file became shorter while being read
                text = carry + piece if carry else piece
                final = position >= stop
                at = 0
                while at < len(text):
                    count = _lib.LogCount()
                    view = ctypes.c_char_p(text)
                    hr = lib.Vexo_parseCandump(ctypes.cast(view, ctypes.c_void_p).value + at, len(text) - at,
                                               _lib.LOG_FINAL if final else 0, _address(self.frames),
                                               BATCH_FRAMES, _address(self.lines), _address(self.data),
                                               len(self.data), ctypes.byref(self.buses), ctypes.byref(count))
                    if hr < 0:
                        raise _lib_error("parsing a log", hr)
                    self._tally(count)
                    if count.frames:
                        self.lines["stampOffset"][:count.frames] += at
                        self.lines["busOffset"][:count.frames] += at
                        yield self.frames, self.lines, count.frames, text
                    at += count.bytes
                    if hr == _lib.S_OK:
                        break
                carry = text[at:]
                if final:
                    break

    def _tally(self, count):
        c = self.counts
        if count.firstGarbage != 0xFFFFFFFF and c["first_garbage"] is None:
            c["first_garbage"] = c["lines"] + count.firstGarbage + 1  # 1-based, within the range read
        for name, value in (("lines", count.lines), ("frames", count.frames), ("remote", count.remote),
                            ("errors", count.errors), ("blank", count.blank), ("garbage", count.garbage)):
            c[name] += value


def _buses_of(reader, lines, count, text):
    """Bus codes into reader.bus_names() of count frames; names beyond the parser's table
    are added here, one Python step per such frame."""
    codes = lines["bus"][:count].astype(np.int64)
    overflow = np.flatnonzero(codes == NO_BUS)
    if len(overflow):
        names = reader.extra_buses
        for i in overflow:
            name = text[lines["busOffset"][i]:lines["busOffset"][i] + lines["busLength"][i]].decode("latin-1")
            codes[i] = _lib.LOG_MAX_BUSES + names.setdefault(name, len(names))
    return codes


def _bus_names(reader):
    names = reader.bus_names()
    names += [""] * (_lib.LOG_MAX_BUSES - len(names))
    return names + sorted(reader.extra_buses, key=reader.extra_buses.get)


def read_log(path):
    """The data frames of a candump log as a DataFrame: timestamp (NaN when the line has
    none), bus, identifier, extended, fd, data (bytes). Remote and error frames, blank
    lines and lines that are no frame are left out and counted in df.attrs["vexo"]."""
    import pandas as pd
    reader = LogReader(path)
    reader.extra_buses = {}
    parts = []
    for frames, lines, count, text in reader.blocks():
        f = frames[:count]
        base = _address(reader.data)
        offsets = (f["data"] - base).astype(np.int64)
        raw = reader.data
        data = [raw[o:o + n].tobytes() for o, n in zip(offsets, f["length"])]
        parts.append(dict(timestamp=lines["timestamp"][:count].copy(), bus=_buses_of(reader, lines, count, text),
                          identifier=f["identifier"].astype(np.int64), extended=(f["flags"] & 1) != 0,
                          fd=(lines["flags"][:count] & 1) != 0, data=data))
    names = _bus_names(reader)
    columns = {}
    for key in ("timestamp", "bus", "identifier", "extended", "fd"):
        columns[key] = np.concatenate([p[key] for p in parts]) if parts else np.zeros(0)
    columns["bus"] = _categorical(columns["bus"].astype(np.int64), names, pd) if parts else pd.Categorical([])
    columns["data"] = [d for p in parts for d in p["data"]]
    df = pd.DataFrame(columns)
    df.attrs["vexo"] = dict(reader.counts)
    return df


def decode_log(db, path, signals=None, long=False, start=0, end=None):
    """See Database.decode_log."""
    with db._lock:
        return _decode_log(db, path, signals, long, start, end)


def _decode_log(db, path, signals, long, start, end):
    import pandas as pd
    if db._decoder is None:
        db._decoder = Decoder(db)
    decoder = db._decoder
    columns = decoder.columns
    chosen = columns.select(signals)
    decoder.ascii = []
    reader = LogReader(path, start, end)
    reader.extra_buses = {}
    unknown = 0
    rows = 0
    out = []  # per block: row timestamps, and per signal record its row, column, value ...
    for frames, lines, count, text in reader.blocks():
        r = decoder.decode(frames, count, codes=long)
        frame = r["frame"]
        described = 1 + int(np.count_nonzero(np.diff(frame))) if len(frame) else 0
        unknown += count - described
        column = r["column"]
        if signals is None and (len(column) == 0 or column.min() >= 0):
            is_value = slice(None)
            keep = slice(None)
            kept = len(frame)
            renumber = r["row"] + rows
        else:
            is_value = np.flatnonzero((column >= 0) & chosen[np.maximum(column, 0)])
            keep = np.ones(len(frame), dtype=bool)
            if signals is not None:  # frames that carry none of the chosen signals are left out
                keep[:] = False
                keep[r["row"][is_value]] = True
            kept = int(np.count_nonzero(keep))
            renumber = (np.cumsum(keep) - 1 + rows)[r["row"][is_value]]
        block = dict(
            timestamp=lines["timestamp"][frame[keep]],
            row=renumber,
            column=column[is_value],
            value=r["value"][is_value],
            valueText=r["valueText"][is_value],
            ascii=r["ascii"][is_value],
        )
        if long:
            frame_of_value = frame[r["row"][is_value]]
            block.update(
                bus=_buses_of(reader, lines, count, text)[frame_of_value],
                identifier=frames["identifier"][frame_of_value].astype(np.int64),
                code=r["code"][r["row"][is_value]],
                value_ts=lines["timestamp"][frame_of_value],
            )
        out.append(block)
        rows += kept
    if not out:
        out.append(dict(timestamp=np.zeros(0), row=np.zeros(0, np.int64), column=np.zeros(0, np.int64),
                        value=np.zeros(0), valueText=np.zeros(0, np.uint64), ascii=np.zeros(0, np.int64),
                        bus=np.zeros(0, np.int64), identifier=np.zeros(0, np.int64), code=np.zeros(0, np.int64),
                        value_ts=np.zeros(0)))
    joined = {k: np.concatenate([b[k] for b in out]) for k in out[0]}
    attrs = dict(reader.counts, unknown=unknown)
    if long:
        df = _long_frame(decoder, reader, joined, pd)
    else:
        df = _wide_frame(decoder, chosen, rows, joined, pd)
    df.attrs["vexo"] = attrs
    return df


def _texts(decoder, addresses, ascii):
    """The text column: value descriptions by their address (each read once), ASCII
    signals' texts as they are."""
    text = np.full(len(addresses), None, dtype=object)
    at = np.flatnonzero(addresses)
    if len(at):
        unique, inverse = np.unique(addresses[at], return_inverse=True)
        text[at] = np.array([decoder.value_text(int(a)) for a in unique], dtype=object)[inverse]
    for i in np.flatnonzero(ascii >= 0):
        text[i] = decoder.ascii[ascii[i]]
    return text


def _long_frame(decoder, reader, j, pd):
    signal_names = sorted(set(decoder.columns.short_names))
    signal_code = {n: i for i, n in enumerate(signal_names)}
    short_codes = np.array([signal_code[n] for n in decoder.columns.short_names], dtype=np.int64)
    return pd.DataFrame({
        "timestamp": j["value_ts"],
        "bus": _categorical(j["bus"], _bus_names(reader), pd),
        "identifier": j["identifier"],
        "frame": _categorical(j["code"], decoder.frame_names, pd),
        "signal": pd.Categorical.from_codes(short_codes[j["column"]], categories=signal_names),
        "value": j["value"],
        "text": _texts(decoder, j["valueText"], j["ascii"]),
    })


def _categorical(codes, names, pd):
    """A categorical of codes into names, repeated names merged into one category."""
    unique = list(dict.fromkeys(names))
    remap = np.array([unique.index(n) for n in names] or [0], dtype=np.int64)
    return pd.Categorical.from_codes(remap[codes], categories=unique)


def _wide_frame(decoder, chosen, rows, j, pd):
    columns = decoder.columns
    picked = np.flatnonzero(chosen)
    position = np.full(len(columns.names), -1, dtype=np.int64)
    position[picked] = np.arange(len(picked))
    matrix = np.full((rows, len(picked)), np.nan)
    index = pd.Index(j["timestamp"], name="timestamp")
    matrix[j["row"], position[j["column"]]] = j["value"]
    df = pd.DataFrame(matrix, index=index, columns=[columns.names[i] for i in picked], copy=False)
    for k, i in enumerate(picked):
        if columns.is_text[i]:
            text = np.full(rows, None, dtype=object)
            hit = j["column"] == i
            text[j["row"][hit]] = [decoder.ascii[k] for k in j["ascii"][hit]]
            df[columns.names[i]] = text
    return df
