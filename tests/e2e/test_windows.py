"""The Windows build under Wine: the platform unit tests, the fault reports,
and the shared scenarios with their dialogs answered on a virtual display.

Needs the cross build (WIN_BUILD, default build-win), wine and Xvfb. As root,
Wine runs as an unprivileged user, since root would ignore read-only files."""
import os
import pwd
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

from PIL import Image

from harness import (VELMARSH, World, banner, check_error_notes, header_block, lines, lm_pass_model, read, read_until,
                     run_tool, write, ToolTest)
from scenarios import SCENARIOS, EditedImport, ExportAll, layer_steps

HERE = os.path.dirname(os.path.abspath(__file__))
WIN_BUILD = os.path.abspath(os.environ.get("WIN_BUILD", os.path.join(HERE, "..", "..", "build-win")))
VELMARSH_EXE = os.path.join(WIN_BUILD, "velmarsh.exe")
WINAUTO_EXE = os.path.join(WIN_BUILD, "tests", "win32", "winauto.exe")
UNIT_TESTS_EXE = os.path.join(WIN_BUILD, "tests", "win32", "unit_tests_win.exe")
FAULT_PROBE_EXE = os.path.join(WIN_BUILD, "tests", "win32", "fault_probe.exe")
WINE_USER = "velwine"
SHIPPED_EXE = os.path.join(WIN_BUILD, "dist", "velmarsh.exe")
# Folders named outside the ANSI code page, and inside it but shown otherwise
# by the console's code page.
UNICODE_FOLDERS = ("Карты", "Zoë maps")

wine = None
run_dir = None


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def symbol_count(path):
    """NumberOfSymbols of a program's COFF header, behind "PE\\0\\0"."""
    data = read(path)
    return struct.unpack_from("<I", data, struct.unpack_from("<I", data, 0x3C)[0] + 16)[0]


class Wine:
    """One Wine prefix and one virtual display for the whole module."""

    def __init__(self):
        self.user = pwd.getpwnam(WINE_USER) if os.geteuid() == 0 else None
        home = self.user.pw_dir if self.user else os.path.expanduser("~")
        # VELMARSH_WINEPREFIX (a folder the Wine user may write) lets two
        # checkouts run these tests at once, each with a Wine of its own.
        prefix = os.environ.get("VELMARSH_WINEPREFIX", os.path.join(home, "velmarsh-wineprefix"))
        # Wine takes Unix file names and arguments in the locale's character
        # set: UTF-8, as on any desktop, or no name outside ASCII gets through.
        self.env = {"PATH": "/usr/bin:/bin", "HOME": home, "WINEDEBUG": "-all", "LC_ALL": "C.UTF-8",
                    "WINEPREFIX": prefix, "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self.display = self.start_display()
        self.env["DISPLAY"] = self.display
        self.run(["wineboot", "--init"], timeout=300)
        # The folders the dialogs remember from earlier runs: gone, so that a
        # test sees what a fresh Windows shows.
        self.run(["reg", "delete", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32", "/f"],
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_display(self):
        # Xvfb picks a free display and writes its number to the pipe once it
        # accepts connections; a socket file can be there a moment earlier.
        ready, tell = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(tell), "-ac", "-nolisten", "tcp", "-screen", "0",
                                      "1280x1024x24"], pass_fds=(tell,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(tell)
        with os.fdopen(ready) as pipe:
            number = pipe.readline().strip()  # empty when Xvfb ends without a display
        if not number:
            self.xvfb.wait()
            raise RuntimeError("no virtual display")
        return f":{number}"

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
    copy_programs()
    wine = Wine()


def copy_programs():
    """Wine may run as a user who cannot enter the checkout (a private home
    folder): the programs it runs go to a folder of the tests' own."""
    global run_dir, VELMARSH_EXE, WINAUTO_EXE, UNIT_TESTS_EXE, FAULT_PROBE_EXE
    run_dir = tempfile.mkdtemp(prefix="velmarsh-wine-")
    os.chmod(run_dir, 0o755)
    copies = []
    for path in (VELMARSH_EXE, WINAUTO_EXE, UNIT_TESTS_EXE, FAULT_PROBE_EXE):
        copies.append(shutil.copy(path, run_dir))
        os.chmod(copies[-1], 0o755)
    VELMARSH_EXE, WINAUTO_EXE, UNIT_TESTS_EXE, FAULT_PROBE_EXE = copies


def tearDownModule():
    if wine is not None:
        wine.stop()
    if run_dir is not None:
        shutil.rmtree(run_dir)


class WindowsContext:
    sharing_violation = 32

    def __init__(self, test, folder=""):
        self.test = test
        self.folder = folder

    def path(self, name):
        return windows_path(self.local(name))

    def local(self, name):
        return self.test.path(os.path.join(self.folder, name))


class WindowsBuild(ToolTest):
    def setUp(self):
        super().setUp()
        os.chmod(self.dir, 0o777)

    def share(self):
        """Everything the test made, open to Wine's user."""
        for root, dirs, files in os.walk(self.dir):
            for name in dirs:
                os.chmod(os.path.join(root, name), 0o777)
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
            r = wine.run([VELMARSH_EXE], cwd=self.dir, stdout=full, stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 101)
        self.assertIn(b"Runtime error 101: standard output cannot be written (error ", r.stderr)

    def test_shared_scenarios(self):
        for scenario_class in SCENARIOS:
            for by_arguments in (False, True):
                with self.subTest(scenario=scenario_class.__name__, by_arguments=by_arguments):
                    for name in os.listdir(self.dir):
                        os.remove(os.path.join(self.dir, name))
                    self.run_scenario(scenario_class(), by_arguments)

    def test_folders_with_any_name(self):
        # The world loaded, exported by the dialogs and imported by the
        # command line, with the paths printed as typed.
        for folder in UNICODE_FOLDERS:
            os.makedirs(self.path(folder))
            for scenario_class, by_arguments in ((ExportAll, False), (EditedImport, True)):
                with self.subTest(folder=folder, scenario=scenario_class.__name__):
                    self.run_scenario(scenario_class(), by_arguments, folder)

    def test_paths_of_319_characters(self):
        # A path's length counts characters, as the system's calls do: 178
        # Cyrillic letters of folders take 356 bytes of UTF-8, and still leave
        # room for the names in them. The dialogs take the world, the proposal
        # beside it goes out.
        folder = os.path.join("К" * 89, "К" * 89)
        os.makedirs(self.path(folder))
        local = self.world(os.path.join(folder, "WOODS.WLD"), width=7, height=5)
        world, fields = windows_path(local), World(read(local)).fields
        beside = windows_path(self.path(folder))
        self.assertGreater(len(world.encode()), 319)
        out, rc = self.run_steps(layer_steps(world, {"smallmap": ("yes", None)}))
        self.assertEqual((out, rc), (header_block(world, fields) + lines(
            f"Writing {beside}\\smallmap.bmp...Done!", ""), 0))
        # A bitmap's path of 319 characters is taken, of 320 refused with a
        # note that counts characters.
        longest = f"{beside}\\" + "l" * (319 - len(beside) - 5) + ".bmp"
        self.assertEqual(len(longest), 319)
        too_long = longest[:-len(".bmp")] + "l.bmp"
        out, rc = self.run_arguments(["export", world, f"smallmap={longest}", f"landtype={too_long}"])
        self.assertEqual((out, rc), (header_block(world, fields) + lines(f"Writing {longest}...Done!", ""), 1))
        self.assertIn(b"Path too long: at most 319 characters", self.last_stderr)
        self.assertTrue(os.path.exists(self.path(os.path.join(folder, longest.split("\\")[-1]))))

    def run_scenario(self, scenario, by_arguments, folder=""):
        """The scenario with its dialogs answered by winauto, or given by its
        command line, which shows no dialog: one shown would never be answered."""
        ctx = WindowsContext(self, folder)
        if by_arguments and scenario.arguments(ctx) is None:
            return
        self.world(os.path.join(folder, "WOODS.WLD"), **scenario.world)
        ctx.before = World(read(ctx.local("WOODS.WLD")))
        scenario.prepare(ctx)
        if by_arguments:
            out, rc = self.run_arguments(scenario.arguments(ctx))
            self.assertEqual((out, rc), (scenario.expected(ctx), scenario.arguments_exit))
        else:
            out, rc = self.run_steps(scenario.steps(ctx))
            self.assertEqual((out, rc), (scenario.expected(ctx), 0))
        scenario.check(ctx, self)

    def run_arguments(self, args, cwd=None, share=True):
        """The tool given its work on the command line; its output and exit
        code, its standard error in last_stderr."""
        if share:
            self.share()
        r = wine.run([VELMARSH_EXE, *args], cwd=cwd or self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE, timeout=180)
        check_error_notes(r.stdout, r.stderr)
        self.last_stderr = r.stderr
        return r.stdout, r.returncode

    def write_steps(self, steps, name="steps.txt"):
        script = self.path(name)
        with open(script, "w", encoding="utf-8") as f:
            for step in steps:
                f.write("\t".join(step) + "\r\n")
        self.share()
        return script

    def run_steps(self, steps, cwd=None, args=()):
        """The tool with its dialogs answered by winauto; its output and exit code."""
        helper = wine.popen([WINAUTO_EXE, windows_path(self.write_steps(steps))], cwd=self.dir, stderr=subprocess.PIPE)
        try:
            r = wine.run([VELMARSH_EXE, *args], cwd=cwd or self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         timeout=180)
        finally:
            _, helper_err = helper.communicate(timeout=60)
        self.assertEqual(helper.returncode, 0, helper_err.decode(errors="replace"))
        check_error_notes(r.stdout, r.stderr)
        return r.stdout, r.returncode

    def test_command_line(self):
        r = wine.run([VELMARSH_EXE, "--version"], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((r.stdout, r.returncode, r.stderr), (b"velmarsh 3.00 beta 2\r\n", 0, b""))
        r = wine.run([VELMARSH_EXE, "export"], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((r.stdout, r.returncode), (b"", 2))
        self.assertTrue(r.stderr.startswith(b"velmarsh: export needs a WORLD\r\nUsage: "), r.stderr)
        # The help of Windows: its dialogs and boxes, no answers on standard
        # input and no manual page, and where the backup is.
        r = wine.run([VELMARSH_EXE, "--help"], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 0)
        for said in (b"Open dialog", b"message box", b"dropped onto velmarsh.exe", b"WOODS.WLD.bak",
                     b"move /y WOODS.WLD.bak WOODS.WLD", b"README.txt"):
            self.assertIn(said, r.stdout)
        for unsaid in (b"ANSWERS", b"standard input", b"manual page"):
            self.assertNotIn(unsaid, r.stdout)
        # Several files dropped onto the program at once: drop one world.
        for name in ("WOODS.WLD", "OTHER.WLD"):
            self.world(name, width=7, height=5)
        r = wine.run([VELMARSH_EXE, windows_path(self.path("WOODS.WLD")), windows_path(self.path("OTHER.WLD"))],
                     cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((r.stdout, r.returncode), (b"", 2))
        self.assertIn(b"drop one world onto velmarsh.exe at a time", r.stderr)
        self.assertNotIn(b"Usage:", r.stderr)
        # Relative names from the current folder; a proposed name beside the world.
        os.makedirs(self.path("maps"))
        local = self.world("maps/WOODS.WLD", width=7, height=5)
        world = windows_path(local)
        out, rc = self.run_arguments(["export", r"maps\WOODS.WLD", "SmallMap", "landtype=lt"])
        self.assertEqual((out, rc), (header_block(world, World(read(local)).fields) + lines(
            f"Writing {windows_path(self.path('maps/smallmap.bmp'))}...Done!",
            f"Writing BMP header to {windows_path(self.path('lt.bmp'))}...Done!", "",
            "Reading and writing LM data...Done!"), 0))
        out, rc = self.run_arguments(["export", r"maps\WOODS.WLD", "smallmap"])  # not replaced
        self.assertEqual((out, rc), (header_block(world, World(read(local)).fields) + lines(""), 1))
        # An import's name without an extension finds a PNG, as on Linux.
        Image.new("L", (7, 5), 9).save(self.path("lh.png"))
        out, rc = self.run_arguments(["import", r"maps\WOODS.WLD", "landheight=lh"])
        self.assertEqual((out, rc), (header_block(world, World(read(local + ".bak")).fields) + lines(
            f"Reading {windows_path(self.path('lh.png'))} header...Done!", "",
            "Reading and writing LM data...Done!"), 0))

    def test_stale_marker_and_read_only_backup(self):
        path = self.world(width=7, height=5, seed=3)
        world, before = windows_path(path), read(path)
        _, files = lm_pass_model(before, exports=["lmheight"])
        edited = bytearray(files["lmheight"])
        edited[1078:1078 + 7] = bytes(range(7))
        write(self.path("lh.bmp"), bytes(edited))
        lh = windows_path(self.path("lh.bmp"))
        # An import that died: the world torn, its marker and whole backup
        # beside it. The next run's open puts the world back.
        torn = bytearray(before)
        torn[-1] ^= 0xFF
        write(path, bytes(torn))
        write(path + ".bak", before)
        write(path + ".importing", b"")
        out, rc = self.run_arguments(["export", world, "smallmap"])
        self.assertEqual((out, rc), (header_block(world, World(before).fields) + lines(
            f"Writing {windows_path(self.path('smallmap.bmp'))}...Done!", ""), 0))
        self.assertIn(b"did not finish", self.last_stderr)
        self.assertTrue(read(path) == before)
        self.assertFalse(os.path.exists(path + ".importing"))
        # A read-only WOODS.WLD.bak (the permission that Wine shows as the
        # attribute) is not replaced, and nothing is imported.
        self.share()
        os.chmod(path + ".bak", 0o444)
        out, rc = self.run_arguments(["import", world, f"landheight={lh}"], share=False)
        self.assertEqual((out, rc), (header_block(world, World(before).fields) + lines(
            f"Reading {lh} header...Done!", "", f"Reading and writing LM data...Error 5 writing {world}.bak!"), 1))
        self.assertTrue(read(path) == before)
        self.assertTrue(read(path + ".bak") == before)
        for end in (".bak.tmp", ".importing"):
            self.assertFalse(os.path.exists(path + end))

    def test_world_dropped_on_the_program(self):
        # Explorer starts the program with the dropped file's full path: no
        # world dialog, and the proposed names beside that world.
        folder = UNICODE_FOLDERS[0]
        os.makedirs(self.path(folder))
        local = self.world(f"{folder}/WOODS.WLD", width=7, height=5)
        world = windows_path(local)
        out, rc = self.run_steps(layer_steps(None, {"smallmap": ("yes", None)}), args=[world])
        self.assertEqual((out, rc), (header_block(world, World(read(local)).fields) + lines(
            f"Writing {windows_path(self.path(folder + '/smallmap.bmp'))}...Done!", ""), 0))

    def test_dialogs_start_beside_the_last_file(self):
        # Each run starts in a folder; the world is answered by a relative
        # name and the SmallMap export takes the proposed name as it stands.
        runs = [("first", "WOODS.WLD", "first"), ("second", "WOODS.WLD", "second"),
                ("second", r"maps\WOODS.WLD", r"second\maps")]
        for seed, folder in enumerate(("first", "second", "second/maps"), 1):
            os.makedirs(self.path(folder))
            self.world(f"{folder}/WOODS.WLD", width=7, height=5, seed=seed)
        for start, answer, beside in runs:
            with self.subTest(start=start, answer=answer):
                out, rc = self.run_steps(layer_steps(answer, {"smallmap": ("yes", None)}), cwd=self.path(start))
                local = self.path(beside.replace("\\", "/") + "/WOODS.WLD")
                world, fields = windows_path(local), World(read(local)).fields
                self.assertEqual(out, header_block(world, fields) + lines(
                    f"Writing {world[:-len('WOODS.WLD')]}smallmap.bmp...Done!", ""))
                self.assertEqual(rc, 0)

    def test_conflict_between_two_runs(self):
        path = self.world(width=7, height=5)
        world = windows_path(path)
        first_steps = self.write_steps([("file", "Open WOODS.WLD", world)], "first.txt")
        helper = wine.popen([WINAUTO_EXE, windows_path(first_steps)], cwd=self.dir)
        first = wine.popen([VELMARSH_EXE], cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(helper.wait(timeout=120), 0)
            # The first run holds the world, waiting in its first box.
            self.assertIn(b"SmallMapOffset", read_until(first.stdout, b"SmallMapOffset"))
            out, rc = self.run_steps([("file", "Open WOODS.WLD", world)])
            self.assertEqual(out, banner() + lines(f"Loading {world}...", f"Error 32 opening {world}!"))
            self.assertEqual(rc, 0)
        finally:
            rest = self.write_steps(layer_steps(None, {}), "rest.txt")  # every box cancelled
            closer = wine.popen([WINAUTO_EXE, windows_path(rest)], cwd=self.dir)
            closer.wait(timeout=120)
            first.communicate(timeout=120)
        self.assertEqual(first.returncode, 0)

    def in_console(self, steps):
        """winauto in a console of its own plays the person at the console;
        returns the console's text as the last step saved it."""
        script = self.write_steps(steps + [("save", windows_path(self.path("screen.txt")))])
        r = wine.run([WINAUTO_EXE, "--console", windows_path(script)], cwd=self.dir, timeout=300)
        failed = script + ".failed"
        self.assertEqual(r.returncode, 0, read(failed) if os.path.exists(failed) else b"")
        return read(self.path("screen.txt")).decode("utf-8")

    def test_console_of_its_own_waits_for_enter(self):
        # Started by a double-click: the console is the run's alone, its dialog
        # in front of it.
        exe = f'"{windows_path(VELMARSH_EXE)}"'
        # Its console is wide enough for the report's longer lines.
        self.in_console([("start", "alone", "0", exe), ("front", "Open WOODS.WLD"), ("title", "Velmarsh"),
                         ("width", "120"), ("cancel", "Open WOODS.WLD"),
                         ("waiting", "Press Enter to close this window."), ("exit", "0")])
        # From a command prompt the console is shared, and the run ends at once,
        # giving the console its title back; the box shows as UTF-8 where the
        # console's code page is UTF-8.
        screen = self.in_console([("start", "shared", "65001", exe), ("front", "Open WOODS.WLD"),
                                  ("title", "Velmarsh"), ("width",), ("cancel", "Open WOODS.WLD"), ("exit", "0"),
                                  ("title",)])
        self.assertTrue(screen.startswith(banner().decode("cp437").replace("\r", "")), screen)
        self.assertNotIn("Press Enter", screen)

    def test_ctrl_c_waits_for_the_move(self):
        path = self.world(width=2047, height=2047, seed=4, layout="shuffled")
        for name, width in (("lmheight.bmp", 2047), ("largemap.bmp", 5 * 2047)):
            self.bitmap(name, width=width, height=width, pattern="noise")
        answers = ["WOODS.WLD", "c", "c", "n", "lmheight.bmp", "n", "largemap.bmp"]
        pristine = read(path)
        run_tool(answers, self.dir, exe=VELMARSH)  # the Linux build: the complete import
        complete = read(path)
        self.assertNotEqual(complete, pristine)
        exe = f'"{windows_path(VELMARSH_EXE)}"'
        imports = {layer: ("no", windows_path(self.path(f"{layer}.bmp"))) for layer in ("lmheight", "largemap")}
        steps = layer_steps(windows_path(path), imports)
        steps.insert(1, ("front", "Export SmallMap BMP"))
        # A console of its own shows the move's end before it closes.
        for console, end in (("shared", []), ("alone", [("waiting", "Press Enter to close this window.")])):
            with self.subTest(console=console):
                write(path, pristine)
                self.in_console([("start", console, "0", exe)] + steps + [
                    ("screen", "Reading and writing LM data..."), ("ctrl-c",),
                    ("screen", "Reading and writing LM data...Done!")] + end + [("exit", "0xC000013A")])
                self.assertTrue(read(path) == complete)

    def test_shipped_exe_carries_manifest_icon_and_version_and_no_debug_information(self):
        shipped = SHIPPED_EXE
        exe = read(shipped)
        version = banner().split(b" v")[1].split(b" \xba")[0].decode()  # "3.00 beta 2"
        for text in (b"Microsoft.Windows.Common-Controls", b"PerMonitorV2", b'level="asInvoker"',
                     version.encode("utf-16-le")):
            self.assertIn(text, exe)
        sections = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", shipped], stdout=subprocess.PIPE,
                                  check=True).stdout
        self.assertIn(b".rsrc", sections)
        self.assertNotIn(b".debug_info", sections)
        self.assertNotIn(b".gnu_debuglink", sections)  # it would name a file that is not shipped
        # Icons, their group, the version and the manifest among the resources;
        # every image of our drawn icon is in the program.
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", shipped], stdout=subprocess.PIPE,
                              check=True).stdout.decode()
        types = {int(t, 16) for t in re.findall(r"^[0-9a-f]{3}   Entry: ID: 0x([0-9a-f]+),", dump, re.M)}
        self.assertEqual(types, {3, 14, 16, 24})
        icon = read(os.path.join(WIN_BUILD, "generated", "velmarsh.ico"))
        entries = [struct.unpack_from("<BBBBHHII", icon, 6 + 16 * i) for i in range(struct.unpack_from("<H", icon, 4)[0])]
        self.assertEqual(sorted(e[0] or 256 for e in entries), [16, 24, 32, 48, 256])
        for entry in entries:
            self.assertIn(icon[entry[7]:entry[7] + entry[6]], exe)
        # No symbol table in the program; the debug file beside it has it and
        # finds the source line of an address.
        self.assertEqual(symbol_count(shipped), 0)
        self.assertGreater(symbol_count(shipped + ".debug"), 0)
        names = subprocess.run(["x86_64-w64-mingw32-nm", shipped + ".debug"], stdout=subprocess.PIPE,
                               check=True).stdout.decode()
        (main,) = re.findall(r"^([0-9a-f]+) T main$", names, re.M)
        where = subprocess.run(["x86_64-w64-mingw32-addr2line", "-e", shipped + ".debug", main],
                               stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertRegex(where, r"src/driver/main\.cpp:\d+")
        # The zip holds that program and a README.txt for Windows users.
        (archive,) = [f for f in os.listdir(WIN_BUILD) if re.fullmatch(r"velmarsh-.*-win64\.zip", f)]
        with zipfile.ZipFile(os.path.join(WIN_BUILD, archive)) as z:
            self.assertEqual(sorted(z.namelist()), ["README.txt", "velmarsh.exe"])
            self.assertEqual(z.read("velmarsh.exe"), exe)
            text = z.read("README.txt")
        self.assertIn(version.encode(), text)
        self.assertEqual(text.count(b"\n"), text.count(b"\r\n"))
