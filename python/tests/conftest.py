"""Shared fixtures: the example database and log, the tool's results to compare with."""
import json
import os
import subprocess

import pytest

pytest.importorskip("numpy", reason="numpy is missing (scripts/setup.sh installs python3-numpy)")
pytest.importorskip("pandas", reason="pandas is missing (scripts/setup.sh installs python3-pandas)")

SOURCE = os.environ.get("VEXO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLE_DBC = os.path.join(SOURCE, "examples", "vehicle.dbc")
EXAMPLE_LOG = os.path.join(SOURCE, "examples", "vehicle.log")


def tool(*args):
    """Runs the vexo tool (VEXO_TOOL); skips when it is not given."""
    exe = os.environ.get("VEXO_TOOL")
    if not exe:
        pytest.skip("VEXO_TOOL is not set (the path of the vexo tool)")
    return subprocess.run([exe, *args], check=True, capture_output=True, text=True).stdout


@pytest.fixture(scope="session")
def db():
    import vexo
    return vexo.load(EXAMPLE_DBC)


@pytest.fixture(scope="session")
def tool_json():
    return [json.loads(line) for line in tool("decode", "--format", "json", EXAMPLE_DBC, EXAMPLE_LOG).splitlines()]
