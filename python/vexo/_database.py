"""Databases loaded through Vexo_importFile and read through the public C interface:
frames, their signals and properties, and decoding and encoding of single frames."""

import ctypes
import math
import os
import re
import threading
from dataclasses import dataclass, field

from . import _lib
from ._lib import lib, utf16_at

_READER_MESSAGE = re.compile(r"^(?:DBC|LDF)-Import: \((\d+), (\d+)\): (.*)$", re.S)


class Error(Exception):
    """A failure reported by the library."""


class ImportError(Error):  # noqa: A001 - the package's own name for a file it cannot read
    """A database file that cannot be read; line and column are 0 when unknown."""

    def __init__(self, path, message, line=0, column=0):
        where = f"{path}:{line}:{column}" if line else path
        super().__init__(f"{where}: {message}")
        self.path, self.message, self.line, self.column = path, message, line, column


@dataclass(frozen=True)
class Signal:
    """A signal as a frame places it."""
    name: str
    start_bit: int
    length: int
    byte_order: str  # "little_endian" or "big_endian"
    is_signed: bool
    factor: float
    offset: float
    minimum: float | None
    maximum: float | None
    initial: float
    unit: str
    value_descriptions: dict = field(default_factory=dict)  # raw value -> text
    is_text: bool = False
    multiplexer_value: int | None = None  # the switch value of a multiplexed part
    node: int = field(default=0, repr=False, compare=False)
    instance: int = field(default=0, repr=False, compare=False)


@dataclass(frozen=True)
class Frame:
    """A frame as a channel triggers it (identifier None for one that no channel places)."""
    name: str
    identifier: int | None
    extended: bool
    length: int
    signals: tuple
    multiplexed: bool = False
    triggering: int = field(default=0, repr=False, compare=False)

    def signal(self, name):
        for s in self.signals:
            if s.name == name:
                return s
        raise KeyError(f"no signal {name} in frame {self.name}")


def _check(hr, what):
    if hr < 0:
        raise Error(f"{what} failed (0x{hr & 0xFFFFFFFF:08X})")
    return hr


def _list(aim, owner):
    enumerator = ctypes.c_void_p()
    if not owner or aim(owner, ctypes.byref(enumerator)) != _lib.S_OK:
        lib.Vexo_enumeratorDestroy(enumerator)
        return []
    nodes, node, fetched = [], ctypes.c_void_p(), ctypes.c_uint32()
    try:
        while lib.Vexo_enumeratorNext(enumerator, 1, ctypes.byref(node), ctypes.byref(fetched)) == _lib.S_OK \
                and fetched.value == 1:
            nodes.append(node.value)
    finally:
        lib.Vexo_enumeratorDestroy(enumerator)
    return nodes


def _get(getter, node, kind=ctypes.c_uint32, default=0):
    value = kind()
    if getter(node, ctypes.byref(value)) != _lib.S_OK:
        return default
    return value.value


def _is(node, kind):
    return lib.Vexo_getNodeType(node) == _lib.NODETYPE[kind]


def _value_of(value):
    """A SignalValue as a Python number."""
    bits = value.bits
    if value.valueType == 1:
        return bits
    if value.valueType == 2:
        return bits - (1 << 64) if bits >> 63 else bits
    return ctypes.c_double.from_buffer_copy(ctypes.c_uint64(bits)).value


class Database:
    """A database file imported into a model of its own (Vexo_importFile)."""

    def __init__(self, path, tolerant=False):
        self.path = os.fspath(path)
        if not os.path.isfile(self.path):
            raise ImportError(self.path, "no such file" if not os.path.exists(self.path) else "not a file")
        handle = ctypes.c_void_p()
        _check(lib.Vexo_create(None, ctypes.byref(handle)), "creating a database")
        self._handle = handle.value
        errors = []

        def report(_context, message):
            if message.contents.second == 0:  # VEXO_MESSAGE_ERROR
                errors.append(utf16_at(message.contents.text))
            return 0

        extension = os.path.splitext(self.path)[1].lower()
        words = {".dbc": ["DBC"], ".ldf": ["LDF"]}.get(extension, []) + (["tolerant"] if tolerant else [])
        callback = _lib.MESSAGE_CALLBACK(report)
        hr = lib.Vexo_importFile(self._handle, None, _lib.utf16_buffer(self.path),
                                 _lib.utf16_buffer(" ".join(words)), None, callback)
        if hr != _lib.S_OK:
            self.close()
            text = errors[-1] if errors else f"import failed (0x{hr & 0xFFFFFFFF:08X})"
            found = _READER_MESSAGE.match(text)
            if found:
                raise ImportError(self.path, found.group(3), int(found.group(1)), int(found.group(2)))
            raise ImportError(self.path, text)
        self.channels = [n for n in _list(lib.Vexo_enumIdentElements, self._handle) if _is(n, "Channel")]
        self.frames = self._collect_frames()
        self._by_name = {}
        for f in self.frames:
            self._by_name.setdefault(f.name, f)
        self._decoder = None
        self._lock = threading.Lock()  # one decode at a time: the decoder's buffers are shared

    def close(self):
        """Releases the model; the database and its frames are unusable afterwards."""
        if getattr(self, "_decoder", None) is not None:
            self._decoder.close()
            self._decoder = None
        if getattr(self, "_handle", None):
            lib.Vexo_destroy(self._handle)
            self._handle = None

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __repr__(self):
        return f"<vexo.Database {self.path!r}: {len(self.frames)} frames>"

    def _name(self, node):
        text = ctypes.c_void_p()
        if not node or lib.Vexo_getShortName(self._handle, node, ctypes.byref(text)) != _lib.S_OK:
            return ""
        return utf16_at(text.value)

    # ---- reading the model ------------------------------------------------------
    def _collect_frames(self):
        frames, placed = [], set()
        for channel in self.channels:
            for triggering in _list(lib.Vexo_enumFrameTriggerings, channel):
                if not (_is(triggering, "IdentifierBasedTriggering") or _is(triggering, "MaskedIdentifierTriggering")):
                    continue
                frame = _get(lib.Vexo_getFrame, triggering, ctypes.c_void_p, None)
                if not frame:
                    continue
                placed.add(frame)
                frames.append(self._describe_frame(frame, triggering))
        return frames

    def _describe_frame(self, frame, triggering):
        flags = _get(lib.Vexo_getFlags, triggering)
        if _is(triggering, "MaskedIdentifierTriggering"):
            identifier = _get(lib.Vexo_getIdentifierCode, triggering)
        else:
            identifier = _get(lib.Vexo_getIdentifier, triggering)
        signals, multiplexed = [], False
        for instance in _list(lib.Vexo_enumPDUInstances, frame):
            pdu = _get(lib.Vexo_getReference, instance, ctypes.c_void_p, None)
            if not pdu or not lib.Vexo_isDerivedFrom(pdu, _lib.CLASS_PDU):
                continue
            multiplexed |= self._collect_signals(pdu, _get(lib.Vexo_getBitPosition, instance), None, signals, set())
        return Frame(self._name(frame), identifier, (flags & 0x3) == _lib.FLAG_CANEXTENDED,
                     _get(lib.Vexo_getLength, frame), tuple(signals), multiplexed, triggering)

    def _collect_signals(self, pdu, position, switch_value, signals, path):
        """Appends the signals of a PDU (multiplexed parts included); tells whether it is multiplexed."""
        if pdu in path or len(path) > 64:
            return False
        path = path | {pdu}
        if _is(pdu, "SignalPDU"):
            for instance in _list(lib.Vexo_enumSignalInstances, pdu):
                signal = _get(lib.Vexo_getReference, instance, ctypes.c_void_p, None)
                if signal and _is(signal, "Signal"):
                    signals.append(self._describe_signal(signal, instance, switch_value))
            return False
        if not _is(pdu, "MultiplexedPDU"):
            return False
        parts = [(_get(lib.Vexo_getStaticPart, pdu, ctypes.c_void_p, None), switch_value)]
        parts += [(part, _get(lib.Vexo_getSwitchCode, part)) for part in _list(lib.Vexo_enumDynamicParts, pdu)]
        parts.append((_get(lib.Vexo_getElsePart, pdu, ctypes.c_void_p, None), switch_value))
        for part, value in parts:
            inner = _get(lib.Vexo_getReference, part, ctypes.c_void_p, None) if part else None
            if inner and lib.Vexo_isDerivedFrom(inner, _lib.CLASS_PDU):
                self._collect_signals(inner, 0, value, signals, path)
        return True

    def _describe_signal(self, signal, instance, switch_value):
        unit = _get(lib.Vexo_getUnit, signal, ctypes.c_void_p, None)
        unit_text = ctypes.c_void_p()
        if not unit or lib.Vexo_getDisplayName(self._handle, unit, 0, 0, ctypes.byref(unit_text)) != _lib.S_OK:
            unit_text.value = None
        coding = _get(lib.Vexo_getReference, signal, ctypes.c_void_p, None)
        length, encoding, factor, offset, values = 0, 0, 1.0, 0.0, {}
        if coding and _is(coding, "Coding"):
            length = _get(lib.Vexo_getBitLength, coding)
            encoding = _get(lib.Vexo_getEncoding, coding)
            for computation in _list(lib.Vexo_enumInternalToPhysicalComputations, coding):
                ranges = _list(lib.Vexo_enumRanges, computation)
                if _is(computation, "LinearComputation"):
                    factor = _get(lib.Vexo_getScale, computation, ctypes.c_double, 1.0)
                    offset = _get(lib.Vexo_getOffset, computation, ctypes.c_double, 0.0)
                elif _is(computation, "MappedTextComputation"):
                    text = ctypes.c_void_p()
                    lib.Vexo_getTextValue(self._handle, computation, 0, 0, ctypes.byref(text))
                    for r in ranges:
                        low = _get(lib.Vexo_getLowerLimit, r, ctypes.c_double)
                        if low == _get(lib.Vexo_getUpperLimit, r, ctypes.c_double):
                            values[int(low) if low.is_integer() else low] = utf16_at(text.value)
        kind = encoding & _lib.ENCODING_TYPEMASK
        flags = _get(lib.Vexo_getFlags, signal)
        ranged = bool(flags & _lib.FLAG_VALID)
        return Signal(
            name=self._name(signal), start_bit=_get(lib.Vexo_getBitPosition, instance), length=length,
            byte_order="big_endian" if _get(lib.Vexo_getByteOrder, instance) == _lib.BYTEORDER_BIGENDIAN
            else "little_endian",
            is_signed=kind in (2, 3, 4) or bool(encoding & 0x10000000),
            factor=factor, offset=offset,
            minimum=_get(lib.Vexo_getMinValue, signal, ctypes.c_double) if ranged else None,
            maximum=_get(lib.Vexo_getMaxValue, signal, ctypes.c_double) if ranged else None,
            initial=_get(lib.Vexo_getDefaultValue, signal, ctypes.c_double),
            unit=utf16_at(unit_text.value), value_descriptions=values, is_text=kind == _lib.ENCODING_ASCII,
            multiplexer_value=switch_value, node=signal, instance=instance)

    def _channel_signals(self):
        """(channel name, signals) of the PDU instances channels carry for every frame."""
        result = []
        for channel in self.channels:
            signals = []
            for instance in _list(lib.Vexo_enumPDUInstances, channel):
                pdu = _get(lib.Vexo_getReference, instance, ctypes.c_void_p, None)
                if pdu and lib.Vexo_isDerivedFrom(pdu, _lib.CLASS_PDU):
                    self._collect_signals(pdu, 0, None, signals, set())
            if signals:
                result.append((self._name(channel), signals))
        return result

    def frame(self, name_or_identifier):
        """The frame of a name, or the first with an identifier."""
        if isinstance(name_or_identifier, str):
            if name_or_identifier in self._by_name:
                return self._by_name[name_or_identifier]
        else:
            for f in self.frames:
                if f.identifier == name_or_identifier:
                    return f
        raise KeyError(f"no frame {name_or_identifier!r} in {self.path}")

    # ---- single frames ----------------------------------------------------------
    def decode(self, identifier, data, extended=False):
        """The physical values of one frame's signals, {name: value}; value descriptions
        stay numbers (decode_log gives their texts). Signals of every frame description
        that matches are merged. ASCII signals give str."""
        from ._log import Decoder
        with self._lock:
            if self._decoder is None:
                self._decoder = Decoder(self)
            return self._decoder.decode_one(identifier, bytes(data), extended)

    def encode(self, frame, values):
        """The data bytes of a frame: the given physical values {signal: value}, the initial
        value for signals not given. Multiplexed frames are refused."""
        f = frame if isinstance(frame, Frame) else self.frame(frame)
        if f.multiplexed:
            raise Error(f"frame {f.name} is multiplexed; encode writes plain frames only")
        known = {s.name: s for s in f.signals}
        for name in values:
            if name not in known:
                raise KeyError(f"no signal {name} in frame {f.name}")
        buffer = (ctypes.c_uint8 * max(f.length, 1))()
        writes = (_lib.SignalWrite * max(len(f.signals), 1))()
        for s, write in zip(f.signals, writes):
            if s.is_text:
                raise Error(f"signal {s.name} holds text; encode writes numbers only")
            write.signalInstance = s.instance
            write.value = self._physical_value(s, values.get(s.name, s.initial), s.name in values)
        # Every value in one call: each through the first of its coding's computations that
        # takes it. A value no computation takes leaves its field at 0 (the initial value
        # of a signal not given) or is refused (a value given).
        results = (_lib.HRESULT * max(len(f.signals), 1))()
        lib.Vexo_encodeSignals(writes, len(f.signals), buffer, max(f.length, 1), results, None)
        for s, result in zip(f.signals, results):
            if result == _lib.S_FALSE and s.name in values:
                raise ValueError(f"bad value for signal {s.name}: {values[s.name]} cannot be represented by its coding")
            if result < 0 and f.length:
                _check(result, f"writing signal {s.name}")
        return bytes(buffer[:f.length])

    @staticmethod
    def _physical_value(s, physical, given):
        if isinstance(physical, bool) or not isinstance(physical, (int, float)) or math.isnan(physical):
            raise ValueError(f"bad value for signal {s.name}: {physical!r}")
        value = _lib.SignalValue(0, 0, ctypes.c_uint64.from_buffer_copy(ctypes.c_double(float(physical))).value)
        if given and s.minimum is not None and lib.Vexo_checkValueInMinMax(s.node, ctypes.byref(value)) != 0:
            raise ValueError(f"bad value for signal {s.name}: {physical} is out of range [{s.minimum}, {s.maximum}]")
        return value


def load(path, tolerant=False):
    """Imports a DBC, LDF, SYM or other supported file; raises vexo.ImportError."""
    return Database(path, tolerant)
