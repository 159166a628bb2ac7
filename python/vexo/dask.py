"""Decoding many candump logs on a Dask cluster: one partition per log file (large files
in byte ranges that start and end on line boundaries), each worker process loading the
database once and decoding its ranges in C."""

import glob
import os
import threading

import dask
import dask.dataframe as dd

from ._database import load
from ._log import decode_log

PARTITION_BYTES = 256 << 20

_databases = {}
_lock = threading.Lock()


def _database(path, tolerant):
    """The database of a file, loaded once per process."""
    key = (os.path.abspath(path), tolerant)
    with _lock:
        db = _databases.get(key)
        if db is None:
            db = _databases[key] = load(path, tolerant)
    return db


def _decode_range(db_path, path, start, end, signals, long, tolerant):
    return decode_log(_database(db_path, tolerant), path, signals, long, start, end)


def _ranges(paths, partition_bytes):
    for path in paths:
        size = os.path.getsize(path)
        if size <= partition_bytes:
            yield path, 0, None
            continue
        for start in range(0, size, partition_bytes):
            yield path, start, start + partition_bytes if start + partition_bytes < size else None


def _log_paths(paths):
    """A folder gives its files (sorted), a pattern its matches; a list stays as it is."""
    if isinstance(paths, (str, os.PathLike)):
        paths = os.fspath(paths)
        if os.path.isdir(paths):
            return sorted(os.path.join(paths, n) for n in os.listdir(paths)
                          if os.path.isfile(os.path.join(paths, n)))
        return sorted(glob.glob(paths)) if glob.has_magic(paths) else [paths]
    return [os.fspath(p) for p in paths]


def decode_logs(db_path, paths, signals=None, long=False, tolerant=False, partition_bytes=PARTITION_BYTES):
    """Decodes candump logs into a dask DataFrame with the columns of Database.decode_log
    (wide, or long=True), one partition per file or per partition_bytes of a larger one,
    in the order of the files. paths: a list of files, a folder or a glob pattern. The
    database is checked here (errors raise at once) and loaded once by each worker
    process, which must find libvexo.so (VEXO_LIBRARY) and this package."""
    paths = _log_paths(paths)
    if not paths:
        raise FileNotFoundError("no log files given")
    for path in paths:
        if not os.path.isfile(path):
            raise FileNotFoundError(path)
    db_path = os.path.abspath(os.fspath(db_path))
    # An empty range of the first file gives the columns and their types.
    meta = decode_log(_database(db_path, tolerant), paths[0], signals, long, 0, 0)
    meta.attrs = {}
    if long:
        meta = dd.utils.clear_known_categories(meta, cols=["bus"])
    decode = dask.delayed(_decode_range, pure=True)
    parts = [decode(db_path, path, start, end, signals, long, tolerant)
             for path, start, end in _ranges(paths, partition_bytes)]
    return dd.from_delayed(parts, meta=meta)
