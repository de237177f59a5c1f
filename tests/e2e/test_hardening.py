"""Write faults at many points, a full disk under the world, and worlds beyond
2 GiB: the tool reports each failure on its line and never claims success."""
import os
import re
import shutil
import signal
import struct
import subprocess
import time
import unittest

from harness import (EXPORT_ALL, IMPORT_ALL, VELMARSH, World, gen, header_block, lines, lm_pass_model, read, read_until,
                     run_tool, start_tool, stride, write, ToolTest)

ORDER = ["smallmap", "landtype", "lmheight", "largemap"]
NAMES = {"smallmap": "smallmap.bmp", "landtype": "landtype.bmp", "lmheight": "lmheight.bmp",
         "largemap": "largemap.bmp"}


def body(out):
    """The console lines after the header block."""
    text = out.decode("latin-1")
    return text[text.index("SmallMapOffset"):].split("\r\n")[2:]


class WriteFaults(ToolTest):
    def test_export_under_file_size_limits(self):
        path = self.world(width=30, height=20)
        before = read(path)
        _, files = lm_pass_model(before, exports=ORDER[1:])
        sizes = {"smallmap": 1078 + 32 * 20, **{l: len(f) for l, f in files.items()}}
        for limit in (0, 1, 700, 1077, 1078, 1079, 1500, 1718, 1719, 5000, 16000, 16077, 16078, 20000):
            with self.subTest(limit=limit):
                for name in NAMES.values():
                    if os.path.exists(self.path(name)):
                        os.remove(self.path(name))
                r = self.run_tool(EXPORT_ALL, file_limit=limit)
                self.assertEqual(r.rc, 0)
                lines = body(r.out)
                small, staged, pass_line = lines[0], lines[1:4], lines[5]
                p = {l: self.path(n) for l, n in NAMES.items()}
                # The SmallMap line: done only when the whole file fits.
                if limit < 1078:
                    self.assertEqual(small, f"Writing {p['smallmap']}...Error 27 writing BMP header!")
                    self.assertEqual(lines[1], "Done!")
                    staged, pass_line = lines[2:5], lines[6] if len(lines) > 6 else ""
                elif sizes["smallmap"] > limit:
                    self.assertEqual(small, f"Writing {p['smallmap']}...Error 27 writing {p['smallmap']}!")
                else:
                    self.assertEqual(small, f"Writing {p['smallmap']}...Done!")
                    self.assertEqual(read(p["smallmap"])[1078:], b"".join(
                        World(before).smallmap_block()[y * 30:(y + 1) * 30] + bytes(2) for y in range(19, -1, -1)))
                for layer, line in zip(ORDER[1:], staged):
                    tail = "Done!" if limit >= 1078 else "Error 27 writing BMP header!"
                    self.assertEqual(line, f"Writing BMP header to {p[layer]}...{tail}")
                if limit < 1078:
                    self.assertNotIn("Reading and writing LM data", r.out.decode("latin-1"))
                    # Every header failed: every file was removed, and named.
                    self.assertEqual([n for n in NAMES.values() if os.path.exists(self.path(n))], [])
                    self.assertEqual(r.err.count(b"\nRemoved "), 4)
                    continue
                too_big = [l for l in ORDER[1:] if sizes[l] > limit]
                if not too_big:
                    self.assertEqual(pass_line, "Reading and writing LM data...Done!")
                    for layer in ORDER[1:]:
                        self.assertEqual(read(p[layer]), files[layer])
                else:
                    m = re.fullmatch(r"Reading and writing LM data\.\.\.Error 27 writing (.*)!", pass_line)
                    self.assertIsNotNone(m, pass_line)
                    self.assertIn(m.group(1), [p[l] for l in too_big])
                    # A pass that stops removes every export it was writing.
                    for layer in ORDER[1:]:
                        self.assertFalse(os.path.exists(p[layer]), layer)
                self.assertEqual(os.path.exists(p["smallmap"]), sizes["smallmap"] <= limit)
                self.assertEqual(read(path), before)

    def test_import_under_file_size_limits(self):
        # The backup is as large as the world and no import writes past the
        # world's end, so under a limit it is the backup that fails, and then
        # neither move writes. (A failed write of the world itself: the unit
        # tests, and the full disk below.)
        path = self.world(width=12, height=9, layout="shuffled")
        self.run_tool(EXPORT_ALL)
        original = read(path)
        # Every value moved on by one, so that every import changes the world.
        for name in NAMES.values():
            data = read(self.path(name))
            step = bytes((v + 1) % (3 if name == "landtype.bmp" else 256) for v in range(256))
            write(self.path(name), data[:1078] + data[1078:].translate(step))
        bak = path + ".bak"
        for limit in (0, 1000, len(original) - 1, len(original)):
            with self.subTest(limit=limit):
                write(path, original)
                if os.path.exists(bak):
                    os.remove(bak)
                r = self.run_tool(IMPORT_ALL, file_limit=limit)
                self.assertEqual(r.rc, 0)
                text = r.out.decode("latin-1")
                fits = limit >= len(original)
                end = "Done!" if fits else f"Error 27 writing {bak}!"
                # The SmallMap line ends with the error alone; the next step follows.
                self.assertIn(f"Importing {self.path('smallmap.bmp')}...{end}\r\nReading ", text)
                self.assertIn(f"\r\nReading and writing LM data...{end}\r\n", text)
                self.assertIn(b"Saved a copy of the world" if fits else b"Nothing was moved", r.err)
                self.assertEqual(os.path.exists(bak), fits)
                self.assertFalse(os.path.exists(bak + ".tmp"))
                self.assertEqual(read(path) != original, fits)
                if fits:
                    self.assertEqual(read(bak), original)

    def test_disk_full_under_the_world(self):
        mount = os.path.join(self.dir, "small-disk")
        os.mkdir(mount)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mount],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("mounting a small file system needs root")
        try:
            # A world whose record area is a hole: writing records needs new space.
            source = World(read(self.world(width=64, height=64)))
            path = os.path.join(mount, "WOODS.WLD")
            table_end = 144 + 4 * 64 * 64
            with open(path, "wb") as f:
                f.write(source.data[:table_end])
                f.seek(source.smallmap)
                f.write(source.data[source.smallmap:])
            before = read(path)
            fill(mount)
            self.bitmap("smallmap.bmp", width=64, height=64, pattern="noise")
            self.bitmap("lmheight.bmp", width=64, height=64, pattern="noise")
            pass_answers = ["c", "n", self.path("lmheight.bmp"), "c"]
            # No room for the backup: nothing is imported.
            r = self.run_tool([path, "c"] + pass_answers)
            self.assertEqual(r.rc, 0)
            self.assertTrue(r.out.endswith(f"\r\nReading and writing LM data...Error 28 writing {path}.bak!\r\n"
                                           .encode()), r.out[-200:])
            self.assertEqual(read(path), before)
            self.assertEqual(sorted(os.listdir(mount)), ["WOODS.WLD", "filler"])
            # Room for the backup when the SmallMap import makes it, and none
            # left when the pass writes records into the hole.
            os.remove(os.path.join(mount, "filler"))
            proc = start_tool(self.dir, [path, "n", self.path("smallmap.bmp")])
            out = read_until(proc.stdout, b"Done!\r\n")
            fill(mount)
            proc.stdin.write("".join(a + "\n" for a in pass_answers).encode())
            proc.stdin.close()
            out += proc.stdout.read()
            proc.stdout.close()
            self.assertEqual(proc.wait(timeout=120), 0)
            self.assertTrue(out.endswith(f"\r\nReading and writing LM data...Error 28 writing {path}!\r\n".encode()),
                            out[-200:])
            self.assertEqual(read(path + ".bak"), before)
            self.assertEqual(os.path.getsize(path), len(source.data))
        finally:
            subprocess.run(["umount", mount])


def fill(folder):
    """Takes the free space of folder's file system with a file "filler"."""
    filler = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT | os.O_APPEND)
    try:
        while True:
            os.write(filler, bytes(4096))
    except OSError:
        pass
    os.close(filler)


class Backups(ToolTest):
    def test_no_import_without_a_backup(self):
        path = self.world(width=12, height=9)
        before = read(path)
        bak = path + ".bak"
        os.mkdir(bak)  # a file cannot replace a folder
        sm, lt, lh = (self.path(n) for n in ("smallmap.bmp", "landtype.bmp", "lmheight.bmp"))
        self.bitmap("smallmap.bmp", width=12, height=9, pattern="noise")
        self.bitmap("lmheight.bmp", width=12, height=9, pattern="noise")
        # Neither move happens; the pass moves no layer, its export included.
        r = self.run_tool(["WOODS.WLD", "n", sm, "y", "", "n", lh, "c"])
        self.assertOutput(r, header_block(path, World(before).fields) + lines(
            f"Importing {sm}...Error 21 writing {bak}!", f"Writing BMP header to {lt}...Done!",
            f"Reading {lh} header...Done!", "", f"Reading and writing LM data...Error 21 writing {bak}!"))
        # Why the backup failed, then what the code means: one note a line.
        self.assertRegex(r.err.decode(), f"could not replace {re.escape(bak)}[^\n]* Error 21 means ")
        self.assertEqual(read(path), before)
        self.assertFalse(os.path.exists(lt))  # the pass's export did not complete
        self.assertEqual(os.listdir(bak), [])
        self.assertFalse(os.path.exists(bak + ".tmp"))
        # A later move of the same run tries again: here the folder goes away
        # after the SmallMap move was refused.
        proc = start_tool(self.dir, ["WOODS.WLD", "n", sm])
        out = read_until(proc.stdout, f"Error 21 writing {bak}!\r\n".encode())
        os.rmdir(bak)
        proc.stdin.write(f"c\nn\n{lh}\nc\n".encode())
        proc.stdin.close()
        out += proc.stdout.read()
        proc.stdout.close()
        self.assertEqual(proc.wait(timeout=120), 0)
        self.assertTrue(out.endswith(b"Reading and writing LM data...Done!\r\n"), out[-200:])
        self.assertEqual(read(bak), before)
        self.assertEqual(read(path), lm_pass_model(before, imports={"lmheight": read(lh)})[0])


class WorldChangedUnderTheRun(ToolTest):
    def test_a_world_cut_or_rewritten_after_its_check_stops_the_pass(self):
        def cut(data):
            return data[:1000]

        def entry_into_the_header(data):
            data = bytearray(data)
            data[144 + 4 * 50:144 + 4 * 51] = (8).to_bytes(4, "little")  # cell (2, 4), as if rewritten
            return bytes(data)

        for change in (cut, entry_into_the_header):
            with self.subTest(change=change.__name__):
                path = self.world(width=12, height=9)
                self.bitmap("lmheight.bmp", width=12, height=9, pattern="noise")
                proc = start_tool(self.dir, ["WOODS.WLD", "c", "y", "", "n", "lmheight.bmp"])
                out = read_until(proc.stdout, b"lmheight.bmp header...Done!\r\n")
                changed = change(read(path))
                write(path, changed)
                proc.stdin.write(b"c\n")
                proc.stdin.close()
                out += proc.stdout.read()
                proc.stdout.close()
                self.assertEqual(proc.wait(timeout=60), 0)
                self.assertTrue(out.endswith(f"Reading and writing LM data...Error 5 reading {path}!\r\n".encode()),
                                out[-200:])
                # Nothing was written from the batch that met it, and the export went.
                self.assertEqual(read(path), changed)
                self.assertFalse(os.path.exists(self.path("landtype.bmp")))


class Links(ToolTest):
    """Files the tool creates are made new, never through a link that someone
    planted beside the world; a link's target stays as it was."""

    def test_links_planted_beside_the_world_are_never_followed(self):
        path = self.world(width=12, height=9)
        before = read(path)
        self.bitmap("lmheight.bmp", width=12, height=9, pattern="noise")
        victim = self.path("victim")
        for name, target in ((".bak.tmp", victim), (".bak.tmp", self.path("nowhere")), (".importing", victim)):
            with self.subTest(name=name, target=os.path.basename(target)):
                write(path, before)
                write(victim, b"keep me")
                for end in (".bak", ".bak.tmp", ".importing"):
                    if os.path.lexists(path + end):
                        os.remove(path + end)
                os.symlink(target, path + name)
                r = self.run_tool(["WOODS.WLD", "c", "c", "n", "lmheight.bmp", "c"])
                self.assertTrue(r.out.endswith(b"Reading and writing LM data...Done!\r\n"), r.out[-200:])
                self.assertEqual((read(victim), os.stat(victim).st_mode & 0o777), (b"keep me", 0o644))
                self.assertFalse(os.path.exists(self.path("nowhere")))
                self.assertEqual(read(path + ".bak"), before)
                self.assertFalse(os.path.lexists(path + name))

    def test_exports_through_links(self):
        path = self.world(width=12, height=9)
        target = self.path("elsewhere.bmp")
        # A link that points nowhere makes no file: a copy tool refuses it too.
        os.symlink(target, self.path("smallmap.bmp"))
        r = self.run_tool(["WOODS.WLD", "y", "", "c", "c", "c"])
        self.assertIn(lines(f"Error 40 creating {self.path('smallmap.bmp')}!"), r.out)
        self.assertFalse(os.path.exists(target))
        # A link to a file is that file; when its export stops, the link stays and is named.
        write(target, b"old")
        r = self.run_tool([], file_limit=1100,
                          args=["export", "WOODS.WLD", "smallmap", "--replace"])
        self.assertIn(b"Error 27 writing", r.out)
        self.assertTrue(os.path.islink(self.path("smallmap.bmp")))
        self.assertIn(f"is a link, so it was not removed: {target} is cut short".encode(), r.err)


class HugeWorlds(ToolTest):
    def test_records_and_smallmap_beyond_2_gib(self):
        w, h = 40, 30
        compact = World(read(self.world(width=w, height=h, layout="shuffled", seed=3)))
        base = (3 << 30) + 5  # records and SmallMap between 3 and 4 GiB, at odd places
        table = []
        path = self.path("HUGE.WLD")
        with open(path, "wb") as f:
            header = bytearray(compact.data[:144])
            smallmap_at = base + 48 * w * h + 1001
            struct.pack_into("<I", header, 28, smallmap_at)
            f.write(header)
            for y in range(h):
                for x in range(w):
                    table.append(base + 48 * (y * w + x) + (y * w + x) % 2)
            f.write(struct.pack(f"<{w * h}I", *table))
            for i, p in enumerate(table):
                f.seek(p)
                f.write(compact.record(i % w, i // w))
            f.seek(smallmap_at)
            f.write(compact.smallmap_block())
        self.assertGreater(os.path.getsize(path), 3 << 30)
        before_head = read_range(path, 0, 144 + 4 * w * h)

        r = self.run_tool(["HUGE.WLD", "y", "", "y", "", "y", "", "y", ""])
        self.assertTrue(r.out.endswith(b"Reading and writing LM data...Done!\r\n"), r.out[-300:])
        _, files = lm_pass_model(compact.data, exports=["landtype", "lmheight", "largemap"])
        for layer in ("landtype", "lmheight", "largemap"):
            self.assertEqual(read(self.path(NAMES[layer])), files[layer], layer)
        self.assertEqual(read(self.path("smallmap.bmp"))[1078:], b"".join(
            compact.smallmap_block()[y * w:(y + 1) * w] for y in range(h - 1, -1, -1)))

        # Edited bitmaps back in: every record lands at its place above 3 GiB.
        edits = {}
        for layer in ("landtype", "lmheight", "largemap"):
            data = bytearray(read(self.path(NAMES[layer])))
            for i in range(1078, len(data), 5):
                data[i] = (data[i] * 7 + 1) % 3 if layer == "landtype" else (data[i] + 99) % 256
            edits[layer] = bytes(data)
            write(self.path(NAMES[layer]), edits[layer])
        r = self.run_tool(["HUGE.WLD", "c", "n", "landtype.bmp", "n", "lmheight.bmp", "n", "largemap.bmp"])
        self.assertTrue(r.out.endswith(b"Reading and writing LM data...Done!\r\n"), r.out[-300:])
        expected = World(lm_pass_model(compact.data, imports=edits)[0])
        for i, p in enumerate(table):
            self.assertEqual(read_range(path, p, 47), bytes(expected.record(i % w, i // w)))
        self.assertEqual(read_range(path, 0, 144 + 4 * w * h), before_head)

    def test_pass_buffers_follow_the_memory_rule(self):
        # A world so wide that one LargeMap band needs 2 GiB: every cell shares
        # one record, so only the table is real data.
        w = 86_000_000
        record = 144 + 4 * w
        path = self.path("WIDE.WLD")
        with open(path, "wb") as f:
            f.write(struct.pack("<8I", 4, w, 1, 0, 0, 0, 0, record + 47) + bytes(112))
            f.write(struct.pack("<I", record) * w)
            f.write(bytes(47))
            f.seek(record + 47 + w - 1)
            f.write(b"\0")
        r = self.run_tool(["WIDE.WLD", "c", "c", "c", "y", ""])
        self.assertEqual(r.rc, 204, r.out[-300:])
        self.assertRegex(r.out, rb"Writing BMP header to .*largemap.bmp\.\.\.Done!\r\n\r\n"
                                rb"Reading and writing LM data\.\.\.Runtime error 204 at 0x[0-9A-F]{8}\r\n")

    def test_largest_map_both_ways(self):
        path = self.world(width=2047, height=2047, seed=5)
        size = os.path.getsize(path)
        r = self.run_tool(EXPORT_ALL)
        self.assertTrue(r.out.endswith(b"Reading and writing LM data...Done!\r\n"))
        self.assertEqual(os.path.getsize(self.path("largemap.bmp")), 1078 + 10236 * 10235)
        self.assertEqual(os.path.getsize(self.path("landtype.bmp")), 1078 + 2048 * 2047)
        world_before = read(path)
        world = World(world_before)
        # Spot checks: corners of the map in every layer, map row 0 on top.
        lm = self.path("largemap.bmp")
        for x, y in ((0, 0), (2046, 0), (0, 2046), (2046, 2046), (1000, 777)):
            rec = world.record(x, y)
            self.assertEqual(read_range(self.path("lmheight.bmp"), 1078 + 2048 * (2046 - y) + x, 1)[0], rec[9])
            self.assertEqual(read_range(lm, 1078 + 10236 * (10234 - 5 * y) + 5 * x, 5), bytes(rec[22:27]))
        unwritten = os.stat(path).st_mtime_ns
        r = self.run_tool(IMPORT_ALL)
        self.assertTrue(r.out.endswith(b"Reading and writing LM data...Done!\r\n"))
        # Its own exports change no byte: nothing is written, so no backup either.
        self.assertTrue(read(path) == world_before)
        self.assertEqual(os.stat(path).st_mtime_ns, unwritten)
        self.assertFalse(os.path.exists(path + ".bak"))


class Recovery(ToolTest):
    """An import that dies at any moment leaves, once the next run has opened
    the world, either the world as it was or the world fully imported, and a
    whole backup beside it."""

    CALLS = ["openat", "write", "pwrite64", "copy_file_range", "fsync", "rename", "unlink", "ftruncate", "close"]
    ANSWERS = ["WOODS.WLD", "n", "smallmap.bmp", "c", "n", "lmheight.bmp", "n", "largemap.bmp"]

    def setUp(self):
        super().setUp()
        self.path_ = self.world(width=12, height=9, seed=7, layout="shuffled")
        self.before = read(self.path_)
        for name, width, height in (("smallmap.bmp", 12, 9), ("lmheight.bmp", 12, 9), ("largemap.bmp", 60, 45)):
            self.bitmap(name, width=width, height=height, pattern="noise")

    def fresh(self, marker=False, backup=None):
        write(self.path_, self.before)
        for end in (".bak", ".bak.tmp", ".importing"):
            if os.path.lexists(self.path_ + end):
                os.remove(self.path_ + end)
        if marker:
            write(self.path_ + ".importing", b"")
        if backup is not None:
            write(self.path_ + ".bak", backup)

    def call_counts(self):
        """How often a whole import makes each file-writing call."""
        self.fresh()
        summary = self.path("strace.txt")
        run_tool(self.ANSWERS, self.dir, exe="/usr/bin/strace",
                 args=["-c", "-o", summary, "-e", "trace=" + ",".join(self.CALLS), VELMARSH])
        rows = re.findall(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?(\w+)$", read(summary).decode(), re.M)
        return {call: int(count) for count, call in rows if call in self.CALLS}

    @unittest.skipIf(shutil.which("strace", path="/usr/bin") is None, "needs strace (Debian: strace)")
    def test_an_import_killed_at_any_file_call(self):
        # Two moves: the SmallMap copy, then the pass. Each is whole or not there.
        states = []
        for answers in (self.ANSWERS[:3] + ["c", "c", "c"], self.ANSWERS):
            self.fresh()
            self.run_tool(answers)
            states.append(read(self.path_))
        states.append(self.before)
        counts = self.call_counts()
        self.assertGreater(counts.get("fsync", 0), 0, counts)
        for call, count in counts.items():
            for n in range(1, count + 1):
                with self.subTest(call=call, n=n):
                    self.fresh()
                    run_tool(self.ANSWERS, self.dir, exe="/usr/bin/strace",
                             args=["-o", "/dev/null", "-e", "trace=" + call, "-e",
                                   f"inject={call}:signal=KILL:when={n}", VELMARSH])
                    self.run_tool(["WOODS.WLD", "c", "c", "c", "c"])
                    self.assertTrue(read(self.path_) in states, "a torn world")
                    if os.path.exists(self.path_ + ".bak"):
                        self.assertTrue(read(self.path_ + ".bak") == self.before, "a torn backup")
                    self.assertFalse(os.path.exists(self.path_ + ".importing"))

    def test_a_marker_puts_back_only_a_backup_of_the_same_world(self):
        other = bytearray(self.before)
        other[144] ^= 1  # another table
        torn = bytearray(self.before)
        torn[-1] ^= 0xFF
        cases = [
            # (the backup beside the marker, the world after the next open, what standard error says)
            (self.before, self.before, "did not finish"),
            (bytes(other), bytes(torn), "is not a copy of this world"),
            (self.before[:-1], bytes(torn), "is not a copy of this world"),
            (None, bytes(torn), "cannot be read"),
        ]
        for backup, after, says in cases:
            with self.subTest(says=says, backup=None if backup is None else len(backup)):
                self.fresh(marker=True, backup=backup)
                write(self.path_, bytes(torn))
                r = self.run_tool(["WOODS.WLD", "c", "c", "c", "c"])
                self.assertTrue(r.out.endswith(b"SmallMapOffset: %d\r\n\r\n\r\n" % World(self.before).smallmap))
                self.assertIn(says.encode(), r.err)
                self.assertEqual(read(self.path_), after)
                self.assertFalse(os.path.exists(self.path_ + ".importing"))
                if backup is not None:
                    self.assertEqual(read(self.path_ + ".bak"), backup)

    def test_the_same_import_twice_keeps_the_first_backup(self):
        self.fresh()
        answers = ["WOODS.WLD", "c", "c", "n", "lmheight.bmp", "c"]
        self.run_tool(answers)
        self.assertEqual(read(self.path_ + ".bak"), self.before)
        imported, unwritten = read(self.path_), os.stat(self.path_).st_mtime_ns
        r = self.run_tool(answers)
        self.assertIn(b"LandHeight: 0 of 108 cells changed", r.err)
        self.assertNotIn(b"Saved a copy", r.err)
        self.assertEqual(read(self.path_ + ".bak"), self.before)
        self.assertEqual((read(self.path_), os.stat(self.path_).st_mtime_ns), (imported, unwritten))


class Interrupts(ToolTest):
    """An interrupt while map data moves waits until the move is complete and
    its line is out; then the run ends as the signal ends it."""

    CASES = [
        # (signal, the progress text after which it is sent, answers up to the move)
        (signal.SIGINT, b"Reading and writing LM data...",
         ["WOODS.WLD", "c", "c", "n", "lmheight.bmp", "n", "largemap.bmp"]),
        (signal.SIGTERM, b"Importing ", ["WOODS.WLD", "n", "smallmap.bmp"]),
    ]

    def test_a_move_is_never_torn(self):
        path = self.world(width=2047, height=2047, seed=6, layout="shuffled")
        self.run_tool(["WOODS.WLD", "y", "", "c", "y", "", "y", ""])
        plus_one = bytes((i + 1) % 256 for i in range(256))
        for name in ("smallmap.bmp", "lmheight.bmp", "largemap.bmp"):
            data = read(self.path(name))
            write(self.path(name), data[:1078] + data[1078:].translate(plus_one))
        pristine = read(path)
        for sig, progress, answers in self.CASES:
            with self.subTest(signal=sig.name):
                write(path, pristine)
                complete = self.run_tool(answers + ["c", "c", "c"])
                self.assertIn(progress, complete.out)
                expected = read(path)
                self.assertNotEqual(expected, pristine)
                write(path, pristine)
                out, rc, said = self.interrupted(answers, progress, sig)
                self.assertEqual(rc, -sig, out[-200:])
                self.assertTrue(out.endswith(b"...Done!\r\n"), out[-200:])
                self.assertIn(b"\nInterrupted: the move in hand was finished first", said)
                self.assertEqual(read(path), expected)

    def test_kill_9_mid_import_leaves_a_whole_backup(self):
        path = self.world(width=2047, height=2047, seed=8, layout="shuffled")
        for name, width in (("lmheight.bmp", 2047), ("largemap.bmp", 5 * 2047)):
            self.bitmap(name, width=width, height=width, pattern="noise")
        before = read(path)
        unwritten = os.stat(path).st_mtime_ns
        proc = start_tool(self.dir, ["WOODS.WLD", "c", "c", "n", "lmheight.bmp", "n", "largemap.bmp"])
        out = read_until(proc.stdout, b"Reading and writing LM data...")
        # Killed once the pass has begun to write the world.
        deadline = time.time() + 120
        while os.stat(path).st_mtime_ns == unwritten and proc.poll() is None and time.time() < deadline:
            time.sleep(0.001)
        proc.kill()
        self.assertEqual(proc.wait(timeout=60), -signal.SIGKILL)
        out += proc.stdout.read()
        proc.stdin.close()
        proc.stdout.close()
        self.assertTrue(out.endswith(b"Reading and writing LM data..."), out[-200:])
        self.assertFalse(read(path) == before)  # torn
        self.assertFalse(os.path.exists(path + ".bak.tmp"))
        self.assertTrue(read(path + ".bak") == before)
        # The next run that opens the world finds the marker and puts it back.
        r = self.run_tool(["WOODS.WLD", "c", "c", "c", "c"])
        self.assertIn(b"did not finish", r.err)
        self.assertTrue(read(path) == before)
        self.assertTrue(read(path + ".bak") == before)
        self.assertFalse(os.path.exists(path + ".importing"))

    def interrupted(self, answers, progress, sig):
        """Runs the tool, sends sig once progress is on standard output, and
        keeps standard input open so that the run cannot end on its own;
        returns its output, exit code and standard error."""
        def preexec():
            for s in (signal.SIGINT, signal.SIGTERM):
                signal.signal(s, signal.SIG_DFL)
        with open(self.path("said.txt"), "wb") as said:
            proc = start_tool(self.dir, answers, preexec, stderr=said)
            out = read_until(proc.stdout, progress)
            proc.send_signal(sig)
            out += proc.stdout.read()
            proc.stdin.close()
            rc = proc.wait(timeout=120)
        return out, rc, read(self.path("said.txt"))


def read_range(path, offset, count):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(count)
