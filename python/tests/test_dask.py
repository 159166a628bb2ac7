"""decode_logs on a local cluster of two worker processes gives the single-process rows."""
import os

import pytest

pytest.importorskip("dask.dataframe", reason="dask is missing (scripts/setup.sh installs python3-dask)")
distributed = pytest.importorskip("distributed", reason="distributed is missing (python3-distributed)")

import vexo  # noqa: E402
import vexo.dask  # noqa: E402
from conftest import EXAMPLE_DBC, EXAMPLE_LOG  # noqa: E402


@pytest.fixture(scope="module")
def logs(tmp_path_factory):
    """The example log cut into three files of different sizes."""
    folder = tmp_path_factory.mktemp("logs")
    lines = open(EXAMPLE_LOG).read().splitlines(keepends=True)
    cuts = [0, 700, 3000, len(lines)]
    paths = []
    for i, (a, b) in enumerate(zip(cuts, cuts[1:])):
        path = folder / f"part{i}.log"
        path.write_text("".join(lines[a:b]))
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("long", [False, True])
def test_cluster_equals_one_process(logs, long):
    db = vexo.load(EXAMPLE_DBC)
    expected = [db.decode_log(p, long=long) for p in logs]
    import pandas as pd
    expected = pd.concat(expected, ignore_index=long)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  worker_dashboard_address=None) as cluster, distributed.Client(cluster):
        frame = vexo.dask.decode_logs(EXAMPLE_DBC, os.path.dirname(logs[0]), long=long, partition_bytes=40000)
        assert frame.npartitions > len(logs)
        got = frame.compute()
    if long:
        got = got.reset_index(drop=True)
        got["bus"] = got["bus"].astype(object)
        expected["bus"] = expected["bus"].astype(object)
    pd.testing.assert_frame_equal(got, expected)
