"""Fixtures of the end-to-end tests: one Wine prefix for the whole session.

The binaries come from the build's bin directory (VelmoraneService.exe, scmctl.exe,
holdfile.exe); VELMORANE_BIN names another one. Nothing is built here: a missing
binary fails the tests rather than skipping them, so a broken build can't pass.
E2E_KEEP=1 keeps the prefix and the captured output under /tmp for a look afterwards.
"""

import os
import shutil

import pytest

import rig as wine_rig

BIN_DIR = wine_rig.BIN


@pytest.fixture(scope="session")
def rig():
    for tool in ("scmctl.exe", "holdfile.exe"):
        if not (BIN_DIR / tool).exists():
            pytest.fail(f"{tool} not built in {BIN_DIR}")
    if shutil.which("wine") is None or shutil.which("wineserver") is None:
        pytest.skip("wine is not installed")
    session = wine_rig.create(BIN_DIR)
    yield session
    wine_rig.destroy(session, keep=os.environ.get("E2E_KEEP") == "1")


@pytest.fixture
def host(rig):
    """The rig with no service installed, no log file, no installation tree and no extra
    environment; whatever the test leaves behind is removed afterwards."""
    if not (BIN_DIR / wine_rig.EXE_NAME).exists():
        pytest.fail(f"{wine_rig.EXE_NAME} not built in {BIN_DIR}")
    wine_rig.ensure_clean(rig)
    wine_rig.set_service_env(rig, {})
    wine_rig.remove_trees(rig, "C:\\Apps", "C:\\Program Files\\Vel Apps", "C:\\Velmorane", "C:\\X")
    yield rig
    wine_rig.ensure_clean(rig)
    wine_rig.remove_trees(rig, "C:\\Apps", "C:\\Program Files\\Vel Apps", "C:\\Velmorane", "C:\\X")
