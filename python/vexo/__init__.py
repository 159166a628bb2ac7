"""Vexo for Python: signal databases (DBC, LDF, SYM ...) loaded through libvexo.so,
frames decoded and encoded, and candump logs decoded in C into pandas DataFrames.

libvexo.so is found through the environment variable VEXO_LIBRARY (a path to the file),
else beside this package, else on the system's library path."""

from ._database import Database, Error, Frame, ImportError, Signal, load  # noqa: A004
from ._log import read_log

__all__ = ["Database", "Error", "Frame", "ImportError", "Signal", "load", "read_log"]
__version__ = "0.1.0"


def _decode_log(self, path, signals=None, long=False):
    """Decodes a candump log (any of the formats the tool reads) into a DataFrame.

    Wide (the default): one row per decoded frame description, indexed by the timestamp
    (NaN for lines without one), one float column per signal named by its short name,
    or FRAME.SIGNAL where frames share a signal name; NaN where the row's frame does not
    carry the signal. ASCII signals give object columns of str.
    long=True: one row per signal value with the columns timestamp, bus, identifier,
    frame, signal, value and text (the value description, or an ASCII signal's text
    with value NaN, else None).
    signals: names (short or FRAME.SIGNAL) to keep; frames carrying none of them are
    left out. Lines, frames, remote and error frames, blank lines, lines that are no
    frame (and the first of them, counted from 1) and frames the database does not
    describe are counted in df.attrs["vexo"]."""
    from ._log import decode_log
    return decode_log(self, path, signals, long)


Database.decode_log = _decode_log
