"""The timing half of scripts/bench_python.sh (a file of its own: Dask's worker processes
start by importing the main module, which standard input cannot give them).
    usage: bench_python.py DBC LOG..."""
import sys
import time

import dask
import distributed
import numpy as np
import pandas as pd

import vexo
import vexo.dask


def main():
    dbc, logs = sys.argv[1], sys.argv[2:]
    db = vexo.load(dbc)
    db.decode_log(logs[0])  # warm up: plans, page cache
    for long in (False, True):
        best = cpu = None
        for _ in range(3):
            df = None  # the previous result freed before the next is built
            start, start_cpu = time.perf_counter(), time.process_time()
            df = db.decode_log(logs[0], long=long)
            elapsed, used = time.perf_counter() - start, time.process_time() - start_cpu
            best = elapsed if best is None else min(best, elapsed)
            cpu = used if cpu is None else min(cpu, used)
        frames = df.attrs["vexo"]["frames"]
        # CPU time beside wall time: on a shared machine the wall time includes others' work.
        print(f"decode_log {'long' if long else 'wide'}: {frames} frames -> {df.shape[0]} x {df.shape[1]} "
              f"in {best:.3f} s = {frames / best / 1e6:.2f} M frames/s (CPU {cpu:.3f} s = "
              f"{frames / cpu / 1e6:.2f} M frames/s)")
    del df

    start = time.perf_counter()
    sums, counts = [], []
    for log in logs:
        part = db.decode_log(log)
        sums.append(part.sum())
        counts.append(part.count())
    one = pd.concat(sums, axis=1).sum(axis=1) / pd.concat(counts, axis=1).sum(axis=1)
    single = time.perf_counter() - start
    del part

    # Dask starts workers with glibc's heap trimmed at 64 KiB, which makes every block's
    # numpy temporaries fresh pages again (system time doubles); a larger threshold keeps them.
    dask.config.set({"distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": 1 << 30})
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.run(lambda: __import__("vexo.dask"))  # workers started and the package imported
        start = time.perf_counter()
        means = vexo.dask.decode_logs(dbc, logs).mean().compute()
        spread = time.perf_counter() - start
    assert list(means.index) == list(one.index) and np.allclose(means, one, rtol=1e-12, equal_nan=True), \
        "the cluster's means differ from one process's"
    print(f"8 logs, one process: {single:.2f} s; Dask, 2 worker processes: {spread:.2f} s; "
          f"speed-up {single / spread:.2f}")


if __name__ == "__main__":
    main()
