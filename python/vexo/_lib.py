"""The ctypes binding of libvexo.so: the library found, the functions declared, the
records of the batch decoder and the log parser laid out as numpy dtypes."""

import ctypes
import ctypes.util
import os

import numpy as np

HRESULT = ctypes.c_int32
S_OK, S_FALSE = 0, 1
E_INVALIDARG = -2147024809  # 0x80070057

NODETYPE = {
    "IdentifierBasedTriggering": 0x6269,
    "MaskedIdentifierTriggering": 0x696D,
    "Signal": 0x6773,
    "Coding": 0x6763,
    "Channel": 0x6863,
    "LinearComputation": 0x636C,
    "MappedTextComputation": 0x746D,
    "SignalPDU": 0x7370,
    "MultiplexedPDU": 0x7578,
}
CLASS_PDU = 0x1E206470
FLAG_CANEXTENDED = 0x1
FLAG_VALID = 0x80000000
BYTEORDER_BIGENDIAN = 1
ENCODING_TYPEMASK = 0xFFFF
ENCODING_ASCII = 7
LOG_FINAL = 0x1
LOG_MAX_BUSES = 32

RECORD_SIGNAL, RECORD_TEXT, RECORD_FRAME, RECORD_UNKNOWN = 0, 1, 2, 3

p = ctypes.c_void_p


class SignalValue(ctypes.Structure):
    _fields_ = [("valueType", ctypes.c_uint32), ("reserved", ctypes.c_uint32), ("bits", ctypes.c_uint64),
                ("computation", p), ("text", p)]


class SignalWrite(ctypes.Structure):
    _fields_ = [("signalInstance", p), ("value", SignalValue)]


class LogBuses(ctypes.Structure):
    _fields_ = [("count", ctypes.c_uint32), ("names", (ctypes.c_char * 33) * LOG_MAX_BUSES)]


class LogCount(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint32) for name in
                ("bytes", "lines", "frames", "dataBytes", "remote", "errors", "blank", "garbage",
                 "firstGarbage", "reserved")]


class BatchCount(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint32) for name in ("frames", "records", "textBytes", "reserved")]


# VexoFrame, VexoLogLine and VexoBatchRecord as numpy records (64-bit Linux layout).
FRAME_DTYPE = np.dtype([("identifier", "<u4"), ("flags", "<u4"), ("length", "<u4"), ("reserved", "<u4"),
                        ("data", "<u8")])
LINE_DTYPE = np.dtype([("timestamp", "<f8"), ("line", "<u4"), ("flags", "<u4"), ("stampOffset", "<u4"),
                       ("stampLength", "<u4"), ("busOffset", "<u4"), ("busLength", "<u4"), ("bus", "<u4"),
                       ("reserved", "<u4")])
RECORD_DTYPE = np.dtype({
    "names": ["kind", "frameIndex", "frameTriggering", "signal", "signalInstance", "rawValue", "valueType",
              "value", "valueText", "status", "textLength", "text"],
    "formats": ["<u4", "<u4", "<u8", "<u8", "<u8", "<u8", "<u4", "<u8", "<u8", "<i4", "<u4", "<u8"],
    "offsets": [0, 4, 8, 16, 24, 32, 40, 48, 72, 80, 84, 88],
    "itemsize": 96,
})
assert ctypes.sizeof(ctypes.c_void_p) == 8, "vexo needs a 64-bit Python"


class Message(ctypes.Structure):
    _fields_ = [("first", ctypes.c_int32), ("second", ctypes.c_int32), ("text", p)]


MESSAGE_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int32, p, ctypes.POINTER(Message))


def utf16_buffer(text):
    """A zero-terminated UTF-16 copy of text, for the functions that take VexoChar text."""
    return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")


def _find_library():
    path = os.environ.get("VEXO_LIBRARY")
    if path:
        return path
    here = os.path.dirname(os.path.abspath(__file__))
    for name in ("libvexo.so", "libvexo.so.0"):
        if os.path.exists(os.path.join(here, name)):
            return os.path.join(here, name)
    return ctypes.util.find_library("vexo") or "libvexo.so.0"


def _declare(lib):
    out = ctypes.POINTER
    node = p
    signatures = {
        "Vexo_create": (p, out(node)),
        "Vexo_destroy": (node,),
        "Vexo_importFile": (node, node, p, p, p, MESSAGE_CALLBACK),
        "Vexo_getNodeType": (node,),
        "Vexo_isDerivedFrom": (node, ctypes.c_uint32),
        "Vexo_getShortName": (node, node, out(p)),
        "Vexo_getDisplayName": (node, node, ctypes.c_uint32, ctypes.c_uint32, out(p)),
        "Vexo_getTextValue": (node, node, ctypes.c_uint32, ctypes.c_uint32, out(p)),
        "Vexo_enumeratorNext": (p, ctypes.c_uint32, out(node), out(ctypes.c_uint32)),
        "Vexo_enumeratorDestroy": (p,),
        "Vexo_createDecodePlan": (node, p, ctypes.c_uint32, out(p)),
        "Vexo_destroyDecodePlan": (p,),
        "Vexo_decodeFrames": (p, p, ctypes.c_uint32, p, ctypes.c_uint32, p, ctypes.c_uint32, out(BatchCount)),
        "Vexo_parseCandump": (p, ctypes.c_uint64, ctypes.c_uint32, p, ctypes.c_uint32, p, p, ctypes.c_uint32,
                              out(LogBuses), out(LogCount)),
        "Vexo_internalToPhysical": (node, ctypes.c_uint64, out(SignalValue)),
        "Vexo_encodeSignal": (node, out(SignalValue), out(p)),
        "Vexo_encodeNextComputation": (p, out(node)),
        "Vexo_destroyEncodeEnum": (p,),
        "Vexo_physicalToInternal": (node, node, out(SignalValue), out(ctypes.c_uint64)),
        "Vexo_encodeSignalInstance": (node, ctypes.c_uint64, p, ctypes.c_uint32),
        "Vexo_encodeSignals": (p, ctypes.c_uint32, p, ctypes.c_uint32, p, p),
        "Vexo_checkValueInMinMax": (node, out(SignalValue)),
    }
    for name in ("Frame", "Reference", "Unit", "StaticPart", "ElsePart"):
        signatures["Vexo_get" + name] = (node, out(node))
    for name in ("Identifier", "IdentifierCode", "IdentifierMask", "Flags", "Length", "BitLength", "BitPosition",
                 "ByteOrder", "Encoding", "SwitchCode"):
        signatures["Vexo_get" + name] = (node, out(ctypes.c_uint32))
    for name in ("Scale", "Offset", "LowerLimit", "UpperLimit", "MinValue", "MaxValue", "DefaultValue"):
        signatures["Vexo_get" + name] = (node, out(ctypes.c_double))
    for name in ("IdentElements", "FrameTriggerings", "PDUInstances", "SignalInstances", "DynamicParts",
                 "InternalToPhysicalComputations", "Ranges"):
        signatures["Vexo_enum" + name] = (node, out(p))
    for name, args in signatures.items():
        function = getattr(lib, name)
        function.argtypes = args
        function.restype = HRESULT
    return lib


lib = _declare(ctypes.CDLL(_find_library()))
lib.Vexo_getNodeType.restype = ctypes.c_int32
lib.Vexo_isDerivedFrom.restype = ctypes.c_int32


def utf16_at(address):
    """The zero-terminated UTF-16 text at an address ("" for null)."""
    if not address:
        return ""
    units = ctypes.cast(address, ctypes.POINTER(ctypes.c_uint16))
    n = 0
    while units[n] != 0:
        n += 1
    return ctypes.string_at(address, 2 * n).decode("utf-16-le", errors="replace")
