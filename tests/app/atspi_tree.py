#!/usr/bin/python3
"""The real program as a screen reader sees it over AT-SPI.

    atspi_tree.py TASTAVIA CLIP

Starts a private session bus with the accessibility bus on it, starts
TASTAVIA in a folder holding CLIP as Ad/ad01.avi, finds the keyboard window
in the accessibility tree, checks that the middle C key and the close switch
are named push buttons with a press action, presses the close switch and
expects the program to end with status 0. Run under with-x11.sh (and
with-pulse.sh, for the program's sound). Exits 77, a skip, when no bus can be
started here.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
INNER = "TASTAVIA_ATSPI_INNER"
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
DEADLINE = 20  # seconds for the bus, the program and its tree to appear


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


def main():
    if os.environ.get(INNER):
        return inner(*sys.argv[1:3])
    if not shutil.which("dbus-run-session") or not os.access(LAUNCHER, os.X_OK):
        skip("dbus-run-session or the AT-SPI bus launcher is missing")
    with tempfile.TemporaryDirectory() as marks:
        started = os.path.join(marks, "started")
        env = dict(os.environ, **{INNER: started})
        status = subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
        if not os.path.exists(started):
            skip("no session bus could be started")
    return status


def accessibility_bus_up():
    answer = subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
        capture_output=True, text=True, timeout=5)
    return answer.returncode == 0 and "unix:" in answer.stdout


def inner(program, clip):
    with open(os.environ[INNER], "w"):
        pass
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"])
    try:
        deadline = time.monotonic() + DEADLINE
        while not accessibility_bus_up():
            if launcher.poll() is not None or time.monotonic() > deadline:
                skip("the accessibility bus did not start")
            time.sleep(0.1)
        with tempfile.TemporaryDirectory() as work:
            os.mkdir(os.path.join(work, "Ad"))
            shutil.copy(clip, os.path.join(work, "Ad", "ad01.avi"))
            env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
            tastavia = subprocess.Popen([program], cwd=work, env=env)
            try:
                return check_program(tastavia, deadline)
            finally:
                if tastavia.poll() is None:
                    tastavia.kill()
                    tastavia.wait()
    finally:
        launcher.terminate()
        launcher.wait()


def find_keyboard(pyatspi, pid):
    """The keyboard window of the program with this process id, once its
    keys are in the tree."""
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.get_process_id() != pid:
            continue
        for window in app:
            if window is not None and window.name == "Tastavia" and child_named(window, "C4"):
                return window
    return None


def child_named(parent, name):
    return next((c for c in parent if c is not None and c.name == name), None)


def dump(window):
    print(f"[{window.getRoleName()}] {window.name!r}")
    for child in window:
        if child.name:
            actions = child.queryAction() if child.getRoleName() == "push button" else None
            names = [actions.getName(i) for i in range(actions.nActions)] if actions else []
            print(f"  [{child.getRoleName()}] {child.name!r} {child.description!r} actions={names}")


def check_program(tastavia, deadline):
    import pyatspi  # only once the accessibility bus is there

    keyboard = None
    while keyboard is None:
        if tastavia.poll() is not None:
            print(f"FAIL: the program ended early with status {tastavia.returncode}")
            return 1
        if time.monotonic() > deadline:
            print("FAIL: no keyboard window with a key named C4 in the accessibility tree")
            return 1
        time.sleep(0.2)
        keyboard = find_keyboard(pyatspi, tastavia.pid)
    dump(keyboard)

    failures = []
    middle_c = child_named(keyboard, "C4")
    if middle_c.getRole() != pyatspi.ROLE_PUSH_BUTTON or middle_c.description != "白键":
        failures.append(f"C4 is a {middle_c.getRoleName()} described {middle_c.description!r}")
    close = child_named(keyboard, "关闭")
    if close is None or close.getRole() != pyatspi.ROLE_PUSH_BUTTON:
        failures.append("no close push button")
    else:
        action = close.queryAction()
        if action.nActions < 1:
            failures.append("the close switch has no action")
        else:
            action.doAction(0)
            try:
                status = tastavia.wait(timeout=10)
                if status != 0:
                    failures.append(f"the program ended with status {status}")
            except subprocess.TimeoutExpired:
                failures.append("the close switch's action did not end the program")
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
