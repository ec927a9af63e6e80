import ctypes
import os
import re
import shutil
import subprocess

import pytest

from support import ARTIFACTS, EXE, REPO, STACKS, WINE_ROOT, Display, Hotfx, descendants, end_processes, running

# The Direct3D 9 implementations a run may use; HOTFX_D3D9 picks one.
CHOSEN = [os.environ["HOTFX_D3D9"]] if os.environ.get("HOTFX_D3D9") else list(STACKS)


def pytest_configure(config):
    config.addinivalue_line("markers", "endurance: a run of several minutes; -m 'not endurance' skips it")
    config.addinivalue_line("markers", "only_on(stack, why): the test runs on that Direct3D 9 stack alone")
    config.addinivalue_line("markers", "default_stack: what the test checks is not the stack's doing; it runs on one")
    for stack in STACKS:
        config.addinivalue_line("markers", f"{stack}: the test runs on {stack}; -m {stack} picks that stack's share")


def pytest_sessionstart(session):
    # What the tests start stays below this process when its parent ends or it leaves for a
    # session of its own (Wine's servers, the hotfx that view.sh starts), for the check at the end.
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1)
    unknown = [stack for stack in CHOSEN if stack not in STACKS]
    if unknown:
        pytest.exit(f"HOTFX_D3D9={unknown[0]}: choose one of {', '.join(STACKS)}, or leave it unset for all",
                    returncode=2)
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


@pytest.fixture(scope="session")
def prepared_stacks(wine_ready):
    return set()


# Which stacks a test runs on. Where what it checks is the stack's doing (pixels and saved
# formats, the calls the device sees, device loss and the injector's failure paths, the
# inputs' binding, float targets) it runs on every chosen stack, since that is where they
# differ. Where it is hotfx's or a script's own doing (the logic of record.sh, view.sh,
# view-reader.py and view-links.py, console text, argument errors, editor integration, the
# docs' walkthroughs) a second stack only repeats the same run: mark the test default_stack and
# it runs on the first chosen stack alone, its other ids never collected. A new test takes the
# side of what it checks. Every id carries its stack as a marker, so `-m dxvk` runs DXVK's share.
def pytest_generate_tests(metafunc):
    if "stack" not in metafunc.fixturenames:
        return
    only = metafunc.definition.get_closest_marker("only_on")
    if only:
        stacks = [stack for stack in CHOSEN if stack == only.args[0]]
    elif metafunc.definition.get_closest_marker("default_stack"):
        stacks = CHOSEN[:1]
    else:
        stacks = CHOSEN
    params = [pytest.param(stack, marks=getattr(pytest.mark, stack)) for stack in stacks]
    if not params:
        params = [pytest.param(only.args[0], marks=pytest.mark.skip(reason=f"{only.args[0]} only: {only.args[1]}"))]
    metafunc.parametrize("stack", params, indirect=True)


@pytest.fixture
def stack(request, prepared_stacks):
    """The Direct3D 9 implementation the test runs on: "wined3d" or "dxvk". Its Wine prefix
    is built on first use."""
    if request.param not in prepared_stacks:
        subprocess.run([str(WINE_ROOT), "setup"], cwd=REPO, check=True,
                       env=dict(os.environ, HOTFX_D3D9=request.param))
        prepared_stacks.add(request.param)
    return request.param


@pytest.fixture
def display(request):
    # A test may turn extensions of the server off: @pytest.mark.parametrize("display", [("NAME",)], indirect=True),
    # or choose the screen: [{"screen": "1366x768x24"}].
    param = getattr(request, "param", ())
    server = Display(**param) if isinstance(param, dict) else Display(without=param)
    yield server
    server.close()


@pytest.fixture
def hotfx(request, display, tmp_path, stack):
    """Starts hotfx.exe (or command, such as tools/view.sh) on the stack in a fresh folder
    holding a copy of the program and, unless source is None, a main.fx with that text; env
    adds to the program's environment. Every run is ended and, if the test failed, its
    screenshots and output are kept under build/e2e-artifacts/<test>/."""
    artifacts = ARTIFACTS / re.sub(r"[^\w.-]+", "_", request.node.name)
    shutil.rmtree(artifacts, ignore_errors=True)
    runs = []

    def start(source, winedebug="-all", command=None, env=None):
        folder = tmp_path / f"run{len(runs)}"
        folder.mkdir()
        shutil.copy(EXE, folder)
        # A text becomes main.fx; a procedure makes whatever is wanted there (bytes, a
        # folder, nothing); None leaves the folder without one.
        if callable(source):
            source(folder)
        elif source is not None:
            (folder / "main.fx").write_text(source)
        runs.append(Hotfx(folder, display, artifacts / folder.name, winedebug, command, stack, env))
        return runs[-1]

    yield start
    failed = any(getattr(request.node, "report_" + when, None) is not None
                 and getattr(request.node, "report_" + when).failed for when in ("setup", "call"))
    for run in runs:
        run.close(failed)


@pytest.hookimpl(trylast=True)
def pytest_sessionfinish(session):
    """Once every fixture has ended what it started, whatever the tests started and still runs is
    ended, named, and fails the session."""
    left = {pid: command.replace(b"\0", b" ")[:120] for pid, command in descendants(os.getpid()).items() if running(pid)}
    end_processes(left)
    if left:
        session.config.pluginmanager.get_plugin("terminalreporter").write_line(f"Left running, now ended: {left}", red=True)
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
