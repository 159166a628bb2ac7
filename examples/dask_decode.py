"""Decodes a folder of candump logs on a local Dask cluster, then groups the values.

    usage: python3 examples/dask_decode.py DB LOG_FOLDER [WORKERS]
    (with PYTHONPATH=python and VEXO_LIBRARY=.../libvexo.so set, so that the worker
    processes find the package and the library too)"""
import sys

import distributed

import vexo.dask


def main():
    db_path, folder = sys.argv[1], sys.argv[2]
    workers = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True) as cluster, \
            distributed.Client(cluster):
        values = vexo.dask.decode_logs(db_path, folder, long=True)
        # Per frame and signal: how many values, their mean and their range (names as
        # plain strings: groups of categories would list every pair, present or not).
        values = values.assign(frame=values.frame.astype(str), signal=values.signal.astype(str))
        summary = values.groupby(["frame", "signal"]).value.agg(["count", "mean", "min", "max"])
        print(summary.compute().to_string())


if __name__ == "__main__":
    main()
