"""The Windows build under Wine: the platform unit tests, the fault reports,
and the shared scenarios with their dialogs answered on a virtual display.

Needs the cross build (WIN_BUILD, default build-win), wine and Xvfb. As root,
Wine runs as an unprivileged user, since root would ignore read-only files."""
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import World, read, ToolTest
from scenarios import SCENARIOS

HERE = os.path.dirname(os.path.abspath(__file__))
WIN_BUILD = os.path.abspath(os.environ.get("WIN_BUILD", os.path.join(HERE, "..", "..", "build-win")))
VELMARSH_EXE = os.path.join(WIN_BUILD, "velmarsh.exe")
WINAUTO_EXE = os.path.join(WIN_BUILD, "tests", "win32", "winauto.exe")
UNIT_TESTS_EXE = os.path.join(WIN_BUILD, "tests", "win32", "unit_tests_win.exe")
FAULT_PROBE_EXE = os.path.join(WIN_BUILD, "tests", "win32", "fault_probe.exe")
WINE_USER = "velwine"

wine = None


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Wine:
    """One Wine prefix and one virtual display for the whole module."""

    def __init__(self):
        self.user = pwd.getpwnam(WINE_USER) if os.geteuid() == 0 else None
        home = self.user.pw_dir if self.user else os.path.expanduser("~")
        self.env = {"PATH": "/usr/bin:/bin", "HOME": home, "WINEDEBUG": "-all", "LC_ALL": "C",
                    "WINEPREFIX": os.path.join(home, "velmarsh-wineprefix"), "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self.display = self.start_display()
        self.env["DISPLAY"] = self.display
        self.run(["wineboot", "--init"], timeout=300)

    def start_display(self):
        for number in range(91, 140):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                self.xvfb = subprocess.Popen(["Xvfb", f":{number}", "-ac", "-nolisten", "tcp", "-screen", "0",
                                              "1280x1024x24"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                for _ in range(100):
                    if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                        return f":{number}"
                    time.sleep(0.05)
        raise RuntimeError("no virtual display")

    def as_user(self):
        if self.user is None:
            return None
        user = self.user

        def drop():
            os.setgid(user.pw_gid)
            os.initgroups(user.pw_name, user.pw_gid)
            os.setuid(user.pw_uid)
        return drop

    def popen(self, args, cwd=None, **kw):
        return subprocess.Popen(["wine", *args], cwd=cwd, env=self.env, preexec_fn=self.as_user(), **kw)

    def run(self, args, cwd=None, timeout=120, **kw):
        return subprocess.run(["wine", *args], cwd=cwd, env=self.env, preexec_fn=self.as_user(),
                              timeout=timeout, **kw)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, preexec_fn=self.as_user())
        self.xvfb.terminate()
        self.xvfb.wait()


def setUpModule():
    global wine
    if not os.path.exists(VELMARSH_EXE):
        raise unittest.SkipTest(f"no Windows build at {WIN_BUILD}")
    for tool in ("wine", "Xvfb"):
        if shutil.which(tool) is None:
            raise unittest.SkipTest(f"needs {tool}")
    if os.geteuid() == 0:
        try:
            pwd.getpwnam(WINE_USER)
        except KeyError:
            subprocess.run(["useradd", "--system", "--create-home", "--home-dir", f"/var/lib/{WINE_USER}",
                            WINE_USER], check=True)
    wine = Wine()


def tearDownModule():
    if wine is not None:
        wine.stop()


class WindowsContext:
    sharing_violation = 32

    def __init__(self, test):
        self.test = test

    def path(self, name):
        return windows_path(self.test.path(name))

    def local(self, name):
        return self.test.path(name)


class WindowsBuild(ToolTest):
    def setUp(self):
        super().setUp()
        os.chmod(self.dir, 0o777)

    def share(self):
        """Everything the test made, open to Wine's user."""
        for root, dirs, files in os.walk(self.dir):
            for name in files:
                os.chmod(os.path.join(root, name), 0o666)

    def test_platform_unit_tests(self):
        r = wine.run([UNIT_TESTS_EXE], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(r.returncode, 0, r.stdout.decode(errors="replace"))
        self.assertIn(b"[  PASSED  ]", r.stdout)

    def test_fault_reports(self):
        report = re.compile(rb"^Runtime error (\d+) at 0x[0-9A-F]{8}\r\n(  0x[0-9A-F]{8}\r\n)*\r\n$")
        for what, code in (("divide", 200), ("stack", 202), ("segv", 216), ("ill", 217), ("alloc-huge", 204)):
            with self.subTest(what=what):
                r = wine.run([FAULT_PROBE_EXE, what], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                self.assertEqual(r.returncode, code, r.stdout)
                m = report.match(r.stdout)
                self.assertIsNotNone(m, r.stdout)
                self.assertEqual(int(m.group(1)), code)

    def test_failed_console_write_is_error_101(self):
        with open("/dev/full", "wb") as full:
            r = wine.run([VELMARSH_EXE], cwd=self.dir, stdout=full, stderr=subprocess.DEVNULL)
        self.assertEqual(r.returncode, 101)

    def test_shared_scenarios(self):
        for scenario_class in SCENARIOS:
            with self.subTest(scenario=scenario_class.__name__):
                for name in os.listdir(self.dir):
                    os.remove(os.path.join(self.dir, name))
                self.run_scenario(scenario_class())

    def run_scenario(self, scenario):
        ctx = WindowsContext(self)
        self.world(**scenario.world)
        ctx.before = World(read(self.path("WOODS.WLD")))
        scenario.prepare(ctx)
        script = self.path("steps.txt")
        with open(script, "w") as f:
            for step in scenario.steps(ctx):
                f.write("\t".join(step) + "\r\n")
        self.share()
        helper = wine.popen([WINAUTO_EXE, windows_path(script)], cwd=self.dir, stderr=subprocess.PIPE)
        try:
            r = wine.run([VELMARSH_EXE], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=180)
        finally:
            _, helper_err = helper.communicate(timeout=60)
        self.assertEqual(helper.returncode, 0, helper_err.decode(errors="replace"))
        self.assertEqual(r.stdout, scenario.expected(ctx))
        self.assertEqual(r.returncode, 0)
        scenario.check(ctx, self)
