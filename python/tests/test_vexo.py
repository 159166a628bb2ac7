"""The package against the C library and the tool: properties, single frames, logs, errors."""
import math

import numpy as np
import pytest

import vexo
from conftest import EXAMPLE_DBC, EXAMPLE_LOG, tool


@pytest.mark.parametrize("frame, signal, expected", [
    ("EngineData", "EngineSpeed", dict(start_bit=0, length=16, byte_order="little_endian", factor=0.25,
                                       offset=0.0, unit="rpm", minimum=0.0, maximum=16383.75, is_signed=False)),
    ("EngineData", "EngineTorque", dict(start_bit=32, length=12, is_signed=True, factor=0.5, unit="Nm")),
    ("TirePressure", "TirePressureRL", dict(multiplexer_value=1, factor=2.5, unit="kPa")),
    ("TireTempFL", None, None),
    ("TransmissionStatus", "GearSelected", dict(value_descriptions={0: "Park", 1: "Reverse", 2: "Neutral",
                                                                    3: "Drive", 4: "Sport", 15: "Invalid"})),
])
def test_properties(db, frame, signal, expected):
    if signal is None:
        with pytest.raises(KeyError):
            db.frame(frame)
        return
    s = db.frame(frame).signal(signal)
    assert {k: getattr(s, k) for k in expected} == expected


def test_frames(db):
    assert [(f.name, f.identifier, f.extended, f.length) for f in db.frames][:2] == [
        ("EngineData", 256, False, 8), ("WheelSpeeds", 272, False, 8)]
    assert db.frame("BatteryStatus").extended and db.frame("BatteryStatus").identifier == 0x18FF50E5
    assert db.frame("TirePressure").multiplexed


def physical(value):
    return None if value is None else float(value)


def test_decode_and_encode_match_the_tool(db, tool_json):
    """Each plain frame's first logged values: encoded here as the tool encodes them, and
    decoded here to the values the tool decodes."""
    firsts = {}
    for line in tool_json:
        firsts.setdefault(line["frame"], line)
    checked = 0
    for name, line in firsts.items():
        frame = db.frame(name)
        values = {k: v for k, v in line["signals"].items()}
        if frame.multiplexed:
            continue
        data = db.encode(frame, values)
        expected = tool("encode", EXAMPLE_DBC, name, *(f"{k}={v!r}" for k, v in values.items()))
        written = expected.strip().split("#", 1)[1]
        assert data.hex().upper() == (written[2:] if written.startswith("#") else written), name  # FD: "#" flags
        decoded = db.decode(line["id"], data, extended=line["ext"])
        assert decoded == {k: physical(v) for k, v in values.items()}, name
        checked += 1
    assert checked >= 8


def test_decode_log_equals_the_tool(db, tool_json):
    wide = db.decode_log(EXAMPLE_LOG)
    assert len(wide) == len(tool_json)
    assert np.array_equal(wide.index.to_numpy(), np.array([line["t"] for line in tool_json]))
    names = list(wide.columns)
    values = wide.to_numpy()
    for row, line in zip(values, tool_json):
        got = {names[i]: row[i] for i in range(len(names)) if not (isinstance(row[i], float) and math.isnan(row[i]))}
        assert got == {k: physical(v) for k, v in line["signals"].items()}

    long = db.decode_log(EXAMPLE_LOG, long=True)
    expected = [(line["t"], line["bus"], line["id"], line["frame"], k, physical(v), line["text"].get(k))
                for line in tool_json for k, v in line["signals"].items()]
    got = list(long[["timestamp", "bus", "identifier", "frame", "signal", "value", "text"]]
               .itertuples(index=False, name=None))
    assert got == expected


@pytest.mark.parametrize("text, frames, counts", [
    ("(1.5) can0 100#0102\n\n(2) can1 1FFFFFFF#\n", 2, dict(blank=1, garbage=0)),
    ("can0  100   [2]  01 02\nnot a frame\n(3) can0 100#R\n", 1, dict(garbage=1, first_garbage=2, remote=1)),
    ("(1) can0 20000080#0000000000000000\n(1) can0 800#00\n(1) can0 100#0", 0,
     dict(errors=1, garbage=2, first_garbage=2)),
    ("(1) can0 100##1" + "00" * 64, 1, dict(garbage=0)),
])
def test_read_log(tmp_path, text, frames, counts):
    path = tmp_path / "log.log"
    path.write_text(text)
    df = vexo.read_log(path)
    assert len(df) == frames
    assert {k: df.attrs["vexo"][k] for k in counts} == counts


def test_decode_log_selection_and_ranges(db, tmp_path):
    chosen = db.decode_log(EXAMPLE_LOG, signals=["GearSelected", "EngineSpeed"], long=True)
    assert set(chosen["signal"]) == {"GearSelected", "EngineSpeed"}
    assert set(chosen.loc[chosen.signal == "GearSelected", "text"]) <= {"Park", "Reverse", "Neutral", "Drive",
                                                                         "Sport", "Invalid"}
    from vexo._log import decode_log
    whole = db.decode_log(EXAMPLE_LOG, long=True)
    size = len(open(EXAMPLE_LOG, "rb").read())
    cuts = [0, 1, 4095, 70000, size]  # anywhere, lines are never split or read twice
    parts = [decode_log(db, EXAMPLE_LOG, None, True, a, b) for a, b in zip(cuts, cuts[1:])]
    assert sum(len(p) for p in parts) == len(whole)
    assert np.array_equal(np.concatenate([p.value.to_numpy() for p in parts]), whole.value.to_numpy())


@pytest.mark.parametrize("text, line, column", [
    ('VERSION ""\nBO_ 100 F: 8 X\n SG_ A : 0|8@1+ (1,0) [0|1] "" X\nBO_ oops\n', 4, 5),
    ('VERSION ""\nBO_ 100 F 8 X\n', 2, 11),
    ('VERSION ""\n\nBU_: A\nBO_ 100 F: 8 A\n SG_ S : 0|8@1+ (1,0) [0|1] "" A\nVAL_ 100 S 0 ;\n', 6, 14),
])
def test_import_errors(tmp_path, text, line, column):
    path = tmp_path / "bad.dbc"
    path.write_text(text)
    with pytest.raises(vexo.ImportError) as error:
        vexo.load(path)
    assert (error.value.line, error.value.column) == (line, column)
    assert str(path) in str(error.value)


@pytest.mark.parametrize("call, error", [
    (lambda db: vexo.load("/nonexistent/x.dbc"), vexo.ImportError),
    (lambda db: db.encode("EngineData", {"Nope": 1}), KeyError),
    (lambda db: db.encode("EngineData", {"CoolantTemp": 1000}), ValueError),
    (lambda db: db.encode("EngineData", {"CoolantTemp": "hot"}), ValueError),
    (lambda db: db.encode("TirePressure", {}), vexo.Error),
    (lambda db: db.decode_log(EXAMPLE_LOG, signals=["Nope"]), KeyError),
    (lambda db: db.decode_log("/nonexistent.log"), FileNotFoundError),
])
def test_errors(db, call, error):
    with pytest.raises(error):
        call(db)
