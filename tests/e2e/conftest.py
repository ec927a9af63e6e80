import re
import shutil
import subprocess

import pytest

from support import ARTIFACTS, EXE, REPO, WINE_ROOT, Display, Hotfx


def pytest_configure(config):
    config.addinivalue_line("markers", "endurance: a run of several minutes; -m 'not endurance' skips it")


def pytest_sessionstart(session):
    if not EXE.is_file():
        pytest.exit(f"{EXE} is missing: build it first with "
                    "`cmake --preset windows && cmake --build --preset windows`", returncode=2)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # Lets fixtures see at teardown whether the test failed, to keep its screenshots.
    outcome = yield
    report = outcome.get_result()
    setattr(item, "report_" + report.when, report)


@pytest.fixture(scope="session")
def wine_ready():
    """Builds the Wine root and prefix on first use (minutes), then does nothing."""
    subprocess.run([str(WINE_ROOT), "setup"], cwd=REPO, check=True)


@pytest.fixture
def display():
    server = Display()
    yield server
    server.close()


@pytest.fixture
def hotfx(request, display, tmp_path, wine_ready):
    """Starts hotfx.exe (or command, such as tools/view.sh) in a fresh folder holding a copy
    of the program and, unless source is None, a main.fx with that text. Every run is ended
    and, if the test failed, its screenshots and output are kept under build/e2e-artifacts/<test>/."""
    artifacts = ARTIFACTS / re.sub(r"[^\w.-]+", "_", request.node.name)
    shutil.rmtree(artifacts, ignore_errors=True)
    runs = []

    def start(source, winedebug="-all", command=None):
        folder = tmp_path / f"run{len(runs)}"
        folder.mkdir()
        shutil.copy(EXE, folder)
        # A text becomes main.fx; a procedure makes whatever is wanted there (bytes, a
        # folder, nothing); None leaves the folder without one.
        if callable(source):
            source(folder)
        elif source is not None:
            (folder / "main.fx").write_text(source)
        runs.append(Hotfx(folder, display, artifacts / folder.name, winedebug, command))
        return runs[-1]

    yield start
    failed = any(getattr(request.node, "report_" + when, None) is not None
                 and getattr(request.node, "report_" + when).failed for when in ("setup", "call"))
    for run in runs:
        run.close(failed)
