"""Fixtures of the reliability tests: one Wine prefix for the whole session, made by the
end-to-end rig (tests/e2e/rig.py), with the crash debugger turned off (support.prepare_session).

The binaries come from VELMORANE_BIN (default build/bin), the bridge, the Java test
application and the stand-ins from VELMORANE_BUILD (default build/). A missing piece fails the
tests. E2E_KEEP=1 keeps the prefix and the captured output under /tmp.
"""

import os
import shutil

import pytest

import support
from support import wr


@pytest.fixture(scope="session")
def rig():
    missing = support.check_equipment()
    if missing:
        pytest.fail(f"not built: {missing}")
    if shutil.which("wine") is None or shutil.which("wineserver") is None:
        pytest.skip("wine is not installed")
    session = wr.create(support.BIN)
    support.prepare_session(session)
    yield session
    wr.destroy(session, keep=os.environ.get("E2E_KEEP") == "1")


@pytest.fixture
def host(rig):
    """The rig with no service installed, no log file, no installation tree and no extra
    environment; whatever the test leaves behind is removed afterwards."""
    wr.ensure_clean(rig)
    wr.set_service_env(rig, {})
    wr.remove_trees(rig, "C:\\Apps")
    yield rig
    wr.ensure_clean(rig)
    wr.remove_trees(rig, "C:\\Apps")
