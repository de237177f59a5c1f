"""The run from banner to closing: the world dialog, opening, the header block,
the world checks, runtime errors and the console's bytes."""
import os
import re
import resource
import shutil
import subprocess
import unittest

from harness import (CRLF, FAULT_PROBE, VELMARSH, World, banner, header_block, lines, read, read_until, run_tool,
                     start_tool, tool_env, write, ToolTest)

CANCEL_ALL = ["c", "c", "c", "c"]
SANITIZED = os.environ.get("E2E_SANITIZED") == "1"


class WorldDialog(ToolTest):
    def test_cancel_shows_the_banner_only(self):
        for answers in ([], [""]):  # end of input, or an empty name with none proposed
            r = self.run_tool(answers)
            self.assertOutput(r, banner())

    def test_banner_bytes_follow_the_locale(self):
        for env, utf8 in (({"LC_ALL": "C"}, False), ({"LC_ALL": "C.UTF-8"}, True)):
            r = self.run_tool([], env_extra=env)
            self.assertOutput(r, banner(utf8))

    def test_path_of_319_bytes_is_printed_whole(self):
        # Nested folders bring the absolute path to exactly 319 bytes.
        base = self.dir
        while len(base) + 1 + 60 < 319 - 12:
            base = os.path.join(base, "d" * 60)
            os.mkdir(base)
        name = "w" * (319 - len(base) - 1)
        path = os.path.join(base, name)
        self.assertEqual(len(path), 319)
        os.chmod(self.world(path), 0o444)
        r = self.run_tool([path])
        self.assertOutput(r, banner() + lines(f"Loading {path}...", f"Error 13 opening {path}!"))
        # One byte more does not fit the buffer: refused, then cancelled.
        r = self.run_tool([path + "x"])
        self.assertIn(b"Path too long: at most 319 bytes", r.err)
        self.assertOutput(r, banner())


class OpeningTheWorld(ToolTest):
    def test_read_only_world(self):
        path = self.world()
        os.chmod(path, 0o444)
        r = self.run_tool(["WOODS.WLD"])
        self.assertOutput(r, banner() + lines(f"Loading {path}...", f"Error 13 opening {path}!"))
        self.assertIn(b"Error 13 means access denied: the file is read-only", r.err)

    def test_world_held_by_a_second_run(self):
        path = self.world()
        first = start_tool(self.dir, ["WOODS.WLD"])
        try:
            self.assertIn(b"SmallMapOffset", read_until(first.stdout, b"SmallMapOffset", timeout=30))
            r = self.run_tool(["WOODS.WLD"])
            self.assertOutput(r, banner() + lines(f"Loading {path}...", f"Error 16 opening {path}!"))
            # The world is the run's first file: only another program or run can hold it.
            self.assertIn(b"Another program or another run of velmarsh has the world open", r.err)
            self.assertNotIn(b"layer of this run", r.err)
            self.assertIn(b"Error 16 means the file is in use", r.err)
        finally:
            first.stdin.close()
            first.wait(timeout=30)
        self.assertEqual(first.returncode, 0)

    def test_all_cancelled_leaves_the_world_unchanged(self):
        path = self.world(junk=True)
        before = read(path)
        r = self.run_tool(["WOODS.WLD"] + CANCEL_ALL)
        self.assertOutput(r, header_block(path, World(before).fields) + CRLF)
        self.assertEqual(read(path), before)
        self.assertEqual(os.listdir(self.dir), ["WOODS.WLD"])

    def test_closed_standard_error_never_takes_the_world(self):
        # The next open would get the free number 2, and the prompts with it.
        path = self.world(junk=True)
        before = read(path)
        proc = subprocess.run([VELMARSH], input=b"WOODS.WLD\nc\nc\nc\nc\n", cwd=self.dir, env=tool_env(self.dir),
                              stdout=subprocess.PIPE, preexec_fn=lambda: os.close(2), timeout=60)
        self.assertEqual((proc.stdout, proc.returncode), (header_block(path, World(before).fields) + CRLF, 0))
        self.assertEqual(read(path), before)

    def test_header_fields_print_unsigned_and_junk_changes_nothing(self):
        path = self.world(junk=True, max_fields=True)
        before = read(path)
        fields = World(before).fields
        self.assertEqual(fields[0], 4294967295)
        r = self.run_tool(["WOODS.WLD", "n", "", "n", "", "n", "", "n", ""])
        self.assertTrue(r.out.startswith(header_block(path, fields)), r.out)
        self.assertIn(lines(" OffsetSize:     4294967295", " Width:          16"), r.out)
        self.assertEqual(r.rc, 0)
        self.assertEqual(read(path), before)


class WorldChecks(ToolTest):
    CASES = [
        # (generator options, the refusal line)
        ({"broken": "empty"}, "Map size 0 x 0 is not supported!"),
        ({"broken": "short-header"}, "Map size 16 x 0 is not supported!"),
        ({"broken": "width0"}, "Map size 0 x 12 is not supported!"),
        ({"broken": "height0"}, "Map size 16 x 0 is not supported!"),
        ({"broken": "table-past-end"}, "Cell offset table runs past the end of the WLD file!"),
        ({"broken": "smallmap-past-end"}, "SmallMap block lies outside the WLD data!"),
        ({"broken": "smallmap-in-table"}, "SmallMap block lies outside the WLD data!"),
        ({"broken": "record-past-end", "bad_cell": "5,3"}, "LM record of cell (5, 3) at {p} lies outside the WLD data!"),
        ({"broken": "record-in-header", "bad_cell": "15,11"}, "LM record of cell (15, 11) at 10 lies outside the WLD data!"),
        ({"broken": "record-in-table", "bad_cell": "0,0"}, "LM record of cell (0, 0) at 911 lies outside the WLD data!"),
    ]

    def test_refusals(self):
        for opts, line in self.CASES:
            with self.subTest(**opts):
                path = self.world(**opts)
                before = read(path)
                world = World(before + bytes(144))  # a short header reads as zeros
                if "{p}" in line:
                    x, y = map(int, opts["bad_cell"].split(","))
                    line = line.format(p=world.entry(x, y))
                r = self.run_tool(["WOODS.WLD"] + CANCEL_ALL)
                self.assertOutput(r, header_block(path, world.fields) + lines(line))
                self.assertEqual(r.err.count(b"Nothing was changed;"), 1)  # the advice after the line
                self.assertEqual(read(path), before)

    def test_overlapping_records_and_block_are_accepted(self):
        for layout in ("overlap", "odd", "duplicates"):
            path = self.world(layout=layout, smallmap="before")
            r = self.run_tool(["WOODS.WLD"] + CANCEL_ALL)
            self.assertOutput(r, header_block(path, World(read(path)).fields) + CRLF)


class Arguments(ToolTest):
    """The command line answers the run's questions: a run from ./elsewhere,
    the world in ./maps, gives the report and files of the same answers."""

    W = "../maps/WOODS.WLD"
    FORMS = [
        # (name, arguments, standard input, the same run's answers, junk files present in both runs,
        #  junk files present in the argument run only, exit code)
        ("world", [W], ["c"] * 4, [W] + ["c"] * 4, [], [], 0),
        ("world not found", ["none.WLD"], [], ["none.WLD"], [], [], 0),
        ("export", ["export", W], [], [W, "y", "", "y", "", "y", "", "y", ""], [], [], 0),
        # A proposed name stays beside the world, whatever folder a file before it went to.
        ("export some, to files of their own", ["export", W, "LandType=out/lt", "LARGEMAP"], [],
         [W, "c", "y", "{d}/out/lt", "c", "y", "{d}/../maps/largemap.bmp"], [], [], 0),
        ("import", ["import", W, "landtype=lt.bmp"], [], [W, "c", "n", "{d}/lt.bmp", "c", "c"], [], [], 0),
        ("--replace anywhere after the command", ["export", "--replace", W, "smallmap"], [],
         [W, "y", "", "c", "c", "c"], [], ["maps/smallmap.bmp"], 0),
        ("-- ends the options", ["export", "--", "-W.WLD", "smallmap=-s"], [], ["-W.WLD", "y", "-s", "c", "c", "c"],
         [], [], 0),
        ("an existing file not replaced", ["export", W, "smallmap", "landtype"], [],
         [W, "y", "", "y", "", "c", "c"], ["maps/smallmap.bmp"], [], 1),
        ("a file not found", ["import", W, "landtype=none.bmp"], [], [W, "c", "n", "{d}/none.bmp", "c", "c"], [], [],
         1),
        ("a world not found", ["export", "none.WLD"], [], ["none.WLD"], [], [], 1),
        ("a refused bitmap", ["import", W, "largemap=lt.bmp"], [], [W, "c", "c", "c", "n", "{d}/lt.bmp"], [], [], 1),
        ("an error line", ["import", W, "landtype=lt.bmp", "landheight=lt.bmp"], [],
         [W, "c", "n", "{d}/lt.bmp", "n", "{d}/lt.bmp", "c"], [], [], 1),
    ]
    USAGE = [
        ["--bogus"], ["-x", W], ["export"], ["import", W], ["import", W, "landtype"], ["export", W, "landtype="],
        ["export", W, "landtype", "LandType=x.bmp"], ["export", W, "sky"], ["import", W, "landtype=lt.bmp", "--replace"],
        [W, "--replace"], ["--replace", "export", W], [W, "other.WLD"], [""], ["export", ""],
        ["export", W, "--force"], ["--force", "import", W, "landtype=lt.bmp"],
    ]
    NOTES = [
        # (what, arguments, exit code, standard output is empty, what standard error says)
        ("a mistyped command", ["exprot", W], 2, True, "unknown command 'exprot'; did you mean 'export'?"),
        ("a layer's name for the world", ["export", "landtype"], 1, False,
         "landtype is the name of a layer, not a world: the world comes first"),
        ("an image for the world", ["lt.bmp"], 0, False, "The file is a BMP image, not a world file"),
        ("an export onto the world", ["export", W, "smallmap=" + W, "--replace"], 1, False,
         "is the world file itself, which this run has open"),
        ("another layer's bitmap", ["import", W, "landheight=../maps/landtype.bmp"], 1, True,
         "landtype.bmp has the palette of a LandType export, so it is most likely the bitmap of another layer, not "
         "of LandHeight; nothing was imported. To import it into LandHeight all the same, give --force."),
        ("another layer's bitmap, forced", ["import", W, "landheight=../maps/landtype.bmp", "--force"], 0, False,
         "LandHeight: this BMP has the palette of a LandType export"),
    ]

    def fresh(self, junk):
        """The folders as every run finds them, in the one test folder, so that
        the paths are the same; returns where the run starts."""
        for name in os.listdir(self.dir):
            shutil.rmtree(self.path(name)) if os.path.isdir(self.path(name)) else os.remove(self.path(name))
        for folder in ("maps", "elsewhere/out"):
            os.makedirs(self.path(folder))
        self.world("maps/WOODS.WLD", seed=3)
        self.world("elsewhere/-W.WLD", seed=4)
        self.bitmap("elsewhere/lt.bmp", width=16, height=12, pattern="noise")
        for name in junk:
            write(self.path(name), b"junk")
        return self.path("elsewhere")

    def files(self):
        return {os.path.relpath(os.path.join(root, f), self.dir): read(os.path.join(root, f))
                for root, _, names in os.walk(self.dir) for f in names}

    def test_forms_give_the_report_of_the_same_answers(self):
        for name, args, stdin, answers, junk, stale, code in self.FORMS:
            with self.subTest(form=name):
                cwd = self.fresh(junk)
                same = run_tool([a.format(d=cwd) for a in answers], cwd)
                made = self.files()
                cwd = self.fresh(junk + stale)
                r = run_tool(stdin, cwd, args=args)
                self.assertEqual((r.out, r.rc), (same.out, code), r.err)
                self.assertEqual(self.files(), made)
                if args[0] in ("export", "import"):  # nothing is asked
                    self.assertNotIn(b"File name", r.err)
                    self.assertNotIn(b"[Y]es", r.err)

    def test_usage_errors_open_nothing(self):
        for args in self.USAGE:
            with self.subTest(args=args):
                cwd = self.fresh([])
                made = self.files()
                r = run_tool([], cwd, args=args)
                self.assertEqual((r.out, r.rc), (b"", 2))
                self.assertRegex(r.err, rb"(?s)^velmarsh: [^\n]+\nUsage: velmarsh export WORLD .*\nTry 'velmarsh --help' for more\.\n$")
                self.assertEqual(self.files(), made)

    def test_notes_say_what_went_wrong(self):
        for what, args, code, silent, says in self.NOTES:
            with self.subTest(what):
                cwd = self.fresh([])
                run_tool([], cwd, args=["export", self.W, "landtype"])
                world = read(self.path("maps/WOODS.WLD"))
                r = run_tool([], cwd, args=args)
                self.assertEqual((r.rc, r.out == b""), (code, silent), r.err)
                self.assertIn(says.encode(), r.err)
                self.assertEqual(read(self.path("maps/WOODS.WLD")) != world, code == 0 and "--force" in args)

    def test_help_and_version(self):
        for args in (["--help"], ["-h"], ["export", self.W, "--help"]):
            r = self.run_tool([], args=args)
            self.assertEqual((r.rc, r.err), (0, b""))
            self.assertTrue(r.out.startswith(b"Usage: velmarsh export WORLD [LAYER[=FILE] ...] [--replace]\n"))
            self.assertNotIn(b"\r", r.out)
        r = self.run_tool([], args=["--version"])
        self.assertEqual((r.out, r.rc, r.err), (b"velmarsh 3.00 beta 2\n", 0, b""))


class RuntimeErrors(ToolTest):
    REPORT = re.compile(rb"^Runtime error (\d+) at 0x[0-9A-F]{8}\r\n(  0x[0-9A-F]{8}\r\n)*\r\n$")

    def probe(self, what, limit_memory=False):
        def preexec():
            if limit_memory:
                resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        return subprocess.run([FAULT_PROBE, what], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              preexec_fn=preexec, timeout=60)

    def test_faults_and_allocation_limits(self):
        # The sanitizers report these faults themselves before any signal is
        # raised, and their shadow memory does not fit under a memory limit.
        preempted = {"divide", "segv", "alloc-none"} if SANITIZED else set()
        for what, code in (("divide", 200), ("stack", 202), ("segv", 216), ("ill", 217),
                           ("alloc-huge", 204), ("alloc-none", 203)):
            if what in preempted:
                continue
            with self.subTest(what=what):
                r = self.probe(what, limit_memory=(what == "alloc-none"))
                self.assertEqual(r.returncode, code, r.stdout)
                m = self.REPORT.match(r.stdout)
                self.assertIsNotNone(m, r.stdout)
                self.assertEqual(int(m.group(1)), code)

    @unittest.skipIf(SANITIZED, "the sanitizers report a null access themselves")
    def test_addresses_are_the_same_in_every_run(self):
        first = self.probe("segv").stdout
        self.assertEqual(self.probe("segv").stdout, first)

    def test_console_on_dev_full_is_error_101(self):
        with open("/dev/full", "wb") as full:
            r = self.run_tool([], stdout=full)
        self.assertEqual(r.rc, 101)
        # Standard output cannot carry the report, so standard error says it.
        self.assertIn(b"Runtime error 101: standard output cannot be written (error 28", r.err)

    def test_console_pipe_closed_early_is_error_101(self):
        self.world()
        proc = start_tool(self.dir)
        proc.stdout.close()  # nobody reads: the next console line fails
        proc.communicate(b"WOODS.WLD\n", timeout=30)
        self.assertEqual(proc.returncode, 101)

    def test_report_goes_to_stdout(self):
        r = subprocess.run(["sh", "-c", f"{FAULT_PROBE} console >/dev/full"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(r.returncode, 101)
        self.assertEqual(r.stderr.count(b"\n"), 1)
