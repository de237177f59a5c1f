"""LandType, LandHeight and LargeMap: staging and the LM pass, end to end."""
import itertools
import os
import random
import struct

from PIL import Image

from harness import (CRLF, EXPORT_ALL, World, bmp_header, expected_export, header_block, lines, lm_pass_model,
                     read, stride, write, ToolTest)

NAMES = {"landtype": "landtype.bmp", "lmheight": "lmheight.bmp", "largemap": "largemap.bmp"}
ORDER = ["landtype", "lmheight", "largemap"]


def answers_for(exports=(), imports=None):
    """Answers to the three layer questions: proposed names for exports,
    the given file names for imports, Cancel otherwise."""
    imports = imports or {}
    out = []
    for layer in ORDER:
        if layer in exports:
            out += ["y", ""]
        elif layer in imports:
            out += ["n", imports[layer]]
        else:
            out.append("c")
    return out


class Layers(ToolTest):
    def run_layers(self, exports=(), imports=None, **kw):
        return self.run_tool(["WOODS.WLD", "c"] + answers_for(exports, imports), **kw)

    def staged_lines(self, exports=(), imports=None):
        out = []
        for layer in ORDER:
            if layer in exports:
                out.append(f"Writing BMP header to {self.path(NAMES[layer])}...Done!")
            elif imports and layer in imports:
                out.append(f"Reading {self.path(imports[layer])} header...Done!")
        return out

    def test_all_cancelled_prints_the_empty_line_only(self):
        path = self.world()
        r = self.run_tool(["WOODS.WLD", "c", "c", "c", "c"])
        self.assertOutput(r, header_block(path, World(read(path)).fields) + CRLF)

    def test_yes_or_no_then_a_cancelled_dialog_is_a_skip(self):
        path = self.world()
        before = read(path)
        # An empty line in an Open dialog with no proposed name cancels it.
        r = self.run_tool(["WOODS.WLD", "c", "n", "", "n", "", "n", ""])
        self.assertOutput(r, header_block(path, World(before).fields) + CRLF)
        r = self.run_tool(["WOODS.WLD", "c", "y"])  # the Save dialog meets the end of input
        self.assertOutput(r, header_block(path, World(before).fields) + CRLF)
        self.assertEqual(sorted(os.listdir(self.dir)), ["WOODS.WLD"])

    def test_exports_match_the_model(self):
        for width, height, layout in ((1, 1, "inorder"), (3, 4, "shuffled"), (5, 3, "odd"),
                                      (128, 2, "duplicates"), (7, 5, "overlap")):
            with self.subTest(width=width, layout=layout):
                for f in NAMES.values():
                    if os.path.exists(self.path(f)):
                        os.remove(self.path(f))
                path = self.world(width=width, height=height, layout=layout, seed=width)
                before = read(path)
                r = self.run_layers(exports=ORDER)
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  lines(*self.staged_lines(exports=ORDER), "",
                                        "Reading and writing LM data...Done!"))
                _, files = lm_pass_model(before, exports=ORDER)
                for layer in ORDER:
                    self.assertEqual(read(self.path(NAMES[layer])), files[layer], layer)
                self.assertEqual(read(path), before)
        self.assertEqual(os.path.getsize(self.path("landtype.bmp")), 1078 + 8 * 5)

    def test_smallest_world_file_sizes(self):
        path = self.world(width=1, height=1)
        self.run_layers(exports=ORDER)
        self.assertEqual(os.path.getsize(self.path("landtype.bmp")), 1082)
        self.assertEqual(os.path.getsize(self.path("largemap.bmp")), 1118)
        self.assertEqual(read(self.path("largemap.bmp"))[1078:],
                         b"".join(bytes(World(read(path)).record(0, 0)[22 + 5 * k:27 + 5 * k]) + bytes(3)
                                  for k in range(4, -1, -1)))

    def test_largemap_blocks_are_upright_in_an_image_library(self):
        path = self.world(width=6, height=4, seed=9)
        world = World(read(path))
        self.run_layers(exports=["largemap"])
        with Image.open(self.path("largemap.bmp")) as im:
            self.assertEqual(im.size, (30, 20))
            px = im.load()
            for y, x, k, j in itertools.product(range(4), range(6), range(5), range(5)):
                self.assertEqual(px[5 * x + j, 5 * y + k], world.record(x, y)[22 + 5 * k + j])

    def test_round_trip_of_every_layer_changes_nothing(self):
        for layout in ("inorder", "duplicates", "overlap"):
            with self.subTest(layout=layout):
                for f in NAMES.values():
                    if os.path.exists(self.path(f)):
                        os.remove(self.path(f))
                path = self.world(width=11, height=7, layout=layout)
                self.run_layers(exports=ORDER)
                before = read(path)
                r = self.run_layers(imports=NAMES)
                self.assertIn(lines("", "Reading and writing LM data...Done!"), r.out)
                # LandType values of 3 or more would have been folded to 0; the
                # generator stores 0, 1 and 2 only.
                self.assertEqual(read(path), before)

    def test_imports_match_the_model(self):
        rng = random.Random(5)
        for width, height, layout in ((3, 2, "odd"), (5, 4, "duplicates"), (9, 3, "overlap"), (4, 4, "shuffled")):
            path = self.world(width=width, height=height, layout=layout, seed=width)
            for staged in itertools.chain.from_iterable(itertools.combinations(ORDER, n) for n in (1, 2, 3)):
                with self.subTest(width=width, layout=layout, staged=staged):
                    before = read(path)
                    imports = {}
                    for layer in staged:
                        scale = 5 if layer == "largemap" else 1
                        self.bitmap(NAMES[layer], width=scale * width, height=scale * height,
                                    pattern="noise", seed=rng.randrange(1 << 30))
                        imports[layer] = NAMES[layer]
                    r = self.run_layers(imports=imports)
                    self.assertOutput(r, header_block(path, World(before).fields) +
                                      lines(*self.staged_lines(imports=imports), "",
                                            "Reading and writing LM data...Done!"))
                    expected, _ = lm_pass_model(before, imports={l: read(self.path(f)) for l, f in imports.items()})
                    self.assertEqual(read(path), expected)

    def test_landtype_keeps_0_1_2_only(self):
        path = self.world(width=16, height=16)
        before = read(path)
        self.bitmap("values.bmp", width=16, height=16, pattern="values")  # every value 0..255 once
        self.run_layers(imports={"landtype": "values.bmp"})
        world = World(read(path))
        seen = sorted(world.record(x, y)[8] for x in range(16) for y in range(16))
        self.assertEqual(seen, [0] * 254 + [1, 2])
        self.assertEqual(read(path), lm_pass_model(before, imports={"landtype": read(self.path("values.bmp"))})[0])

    def test_export_landtype_while_importing_landheight(self):
        path = self.world(width=10, height=6, layout="duplicates")
        before = read(path)
        self.bitmap("heights.bmp", width=10, height=6, pattern="gradient")
        r = self.run_tool(["WOODS.WLD", "c", "y", "", "n", "heights.bmp", "c"])
        self.assertIn(lines("Reading and writing LM data...Done!"), r.out)
        world, files = lm_pass_model(before, exports=["landtype"], imports={"lmheight": read(self.path("heights.bmp"))})
        self.assertEqual(read(self.path("landtype.bmp")), files["landtype"])
        self.assertEqual(read(path), world)
        # Only byte 9 of the records moved.
        changed = {i for i, (a, b) in enumerate(zip(before, world)) if a != b}
        record_bytes = {World(before).entry(x, y) + 9 for x in range(10) for y in range(6)}
        self.assertTrue(changed and changed <= record_bytes)

    def test_a_cut_short_import_is_refused_before_the_pass(self):
        path = self.world(width=7, height=5)
        before = read(path)
        for layer, cut in (("lmheight", 17), ("largemap", 333), ("landtype", 0)):
            with self.subTest(layer=layer):
                scale = 5 if layer == "largemap" else 1
                bmp = self.bitmap("short.bmp", width=7 * scale, height=5 * scale, pattern="noise", truncate=cut)
                r = self.run_layers(imports={layer: "short.bmp"})
                self.assertIn(lines(f"Reading {bmp} header...{bmp} is not a valid BMP file!", ""), r.out)
                self.assertNotIn(b"Reading and writing LM data", r.out)
                self.assertIn(b"most likely an interrupted copy", r.err)
                self.assertEqual(read(path), before)

    def test_largemap_import_from_a_16_colour_bitmap(self):
        path = self.world(width=6, height=3)
        before = read(path)
        self.bitmap("sixteen.bmp", width=30, height=15, palette=16, pattern="noise")
        bmp = read(self.path("sixteen.bmp"))
        self.assertEqual(struct.unpack_from("<I", bmp, 10)[0], 118)
        r = self.run_layers(imports={"largemap": "sixteen.bmp"})
        self.assertIn(b"Reading and writing LM data...Done!", r.out)
        after = World(read(path))
        # Pixel (0, 0), the top-left of the image, is byte 0 of block row 0 of cell (0, 0).
        top_row = 118 + stride(30) * 14
        self.assertEqual(after.record(0, 0)[22], bmp[top_row])
        self.assertEqual(read(path), lm_pass_model(before, imports={"largemap": bmp})[0])

    def test_largemap_import_of_map_sized_bitmap_is_refused(self):
        path = self.world(width=100, height=80)
        before = read(path)
        bmp = self.bitmap("small.bmp", width=100, height=80)
        r = self.run_layers(imports={"largemap": "small.bmp"})
        self.assertOutput(r, header_block(path, World(before).fields) +
                          lines(f"Reading {bmp} header...Width of BMP is not equal to 500!", ""))
        self.assertEqual(read(path), before)

    def test_sharing_conflicts(self):
        path = self.world(width=6, height=4)
        before = read(path)
        lt = self.path("landtype.bmp")
        # (Two imports of one file: the shared scenarios.) Importing what an earlier layer exports in the same run.
        r = self.run_tool(["WOODS.WLD", "c", "y", "", "n", "landtype.bmp", "c"])
        self.assertOutput(r, header_block(path, World(before).fields) +
                          lines(f"Writing BMP header to {lt}...Done!", f"Error 16 opening {lt}!", "",
                                "Reading and writing LM data...Done!"))
        self.assertEqual(read(lt), lm_pass_model(before, exports=["landtype"])[1]["landtype"])

    def test_edited_in_an_image_library_changes_exactly_those_bytes(self):
        path = self.world(width=12, height=8, layout="shuffled")
        self.run_layers(exports=ORDER)
        before = read(path)
        world = World(before)
        edits = {"landtype": [(0, 0, 2), (11, 7, 1)], "lmheight": [(3, 4, 200), (11, 0, 9)],
                 "largemap": [(0, 0, 17), (59, 39, 18), (27, 13, 19)]}
        expected = bytearray(before)
        for layer, points in edits.items():
            with Image.open(self.path(NAMES[layer])) as im:
                im.load()
                for x, y, v in points:
                    im.putpixel((x, y), v)
                    if layer == "largemap":
                        at = world.entry(x // 5, y // 5) + 22 + 5 * (y % 5) + x % 5
                    else:
                        at = world.entry(x, y) + (8 if layer == "landtype" else 9)
                    expected[at] = v
                im.save(self.path("edited-" + NAMES[layer]))
        r = self.run_layers(imports={l: "edited-" + f for l, f in NAMES.items()})
        self.assertIn(b"Reading and writing LM data...Done!", r.out)
        self.assertEqual(read(path), bytes(expected))

    def test_write_failure_ends_the_line_and_closes_every_file(self):
        path = self.world(width=40, height=40)
        before = read(path)
        lm = self.path("largemap.bmp")
        r = self.run_layers(exports=ORDER, file_limit=8192)
        self.assertOutput(r, header_block(path, World(before).fields) +
                          lines(*self.staged_lines(exports=ORDER), "",
                                f"Reading and writing LM data...Error 27 writing {lm}!"))
        self.assertIn(b"Error 27 means the file would grow past the largest size allowed here", r.err)
        self.assertEqual(read(path), before)
        # A pass that stops leaves no export cut short: each one is gone, and named.
        for name, caption in (("landtype.bmp", "LandType"), ("lmheight.bmp", "LandHeight"), ("largemap.bmp", "LargeMap")):
            self.assertFalse(os.path.exists(self.path(name)), name)
            self.assertIn(f"Removed {self.path(name)} ({caption})".encode(), r.err)


class ScriptMode(ToolTest):
    """From a script every question takes exactly one line: a name that cannot
    be used loses its own step and every later answer still meets its own
    question, and a stray answer to a layer question ends the layer
    questions. The world's own exports are present before each run, so the
    world must come out unchanged unless a bitmap reached the wrong layer."""

    EXPORTED = ["smallmap.bmp", "landtype.bmp", "lmheight.bmp", "largemap.bmp"]
    IMPORT_REST = ["n", "landtype.bmp", "n", "lmheight", "n", "largemap.bmp"]
    IMPORTED_REST = ["Reading {d}/landtype.bmp header...Done!", "Reading {d}/lmheight.bmp header...Done!",
                     "Reading {d}/largemap.bmp header...Done!", "", "Reading and writing LM data...Done!"]
    CASES = [
        # (name, world, files present, answers, lines after the header, note on standard error)
        ("typo", "WOODS.WLD", EXPORTED, ["WOODS.WLD", "n", "smalmap.bmp"] + IMPORT_REST, IMPORTED_REST,
         "File not found: {d}/smalmap.bmp"),
        ("export run twice", "WOODS.WLD", EXPORTED[:2], EXPORT_ALL,
         ["Writing BMP header to {d}/lmheight.bmp...Done!", "Writing BMP header to {d}/largemap.bmp...Done!", "",
          "Reading and writing LM data...Done!"],
         "{d}/landtype.bmp already exists; not replaced (delete it first to export again)"),
        ("export onto the world", "WOODS.WLD", [], ["WOODS.WLD", "y", "WOODS.WLD", "c", "c", "c"], [""],
         "{d}/WOODS.WLD already exists; not replaced"),
        # A line that is none of y, n, c stops the layer questions: the lines after it were meant for other
        # questions (here LandType's bitmap would reach LandHeight, and "y" would name a file).
        ("stray answer", "WOODS.WLD", EXPORTED, ["WOODS.WLD", "m", "smallmap.bmp"] + IMPORT_REST, [""],
         "Skipped SmallMap, LandType, LandHeight and LargeMap: after a line that is not y, n or c"),
        ("doubled key", "WOODS.WLD", [], ["WOODS.WLD", "yy", "", "y", "", "y", "", "y", ""], [""],
         'Not an answer: "yy" (answer y, n or c)'),
        ("stray answer after a staged layer", "WOODS.WLD", EXPORTED,
         ["WOODS.WLD", "c", "n", "landtype.bmp", "maybe", "lmheight.bmp", "n", "largemap.bmp"],
         ["Reading {d}/landtype.bmp header...Done!", "", "Reading and writing LM data...Done!"],
         "Skipped LandHeight and LargeMap:"),
        ("too long a path", "WOODS.WLD", EXPORTED, ["WOODS.WLD", "n", "x" * 320] + IMPORT_REST, IMPORTED_REST,
         "Path too long: at most 319 bytes"),
        ("a folder", "WOODS.WLD", EXPORTED, ["WOODS.WLD", "n", "."] + IMPORT_REST, IMPORTED_REST, "{d} is a folder"),
        ("world in a subfolder", "maps/WOODS.WLD", ["maps/lmheight.bmp"],
         ["maps/WOODS.WLD", "y", "", "y", "", "n", "../maps/lmheight", "y", "edited/lm.bmp"],
         ["Writing {d}/maps/smallmap.bmp...Done!", "Writing BMP header to {d}/maps/landtype.bmp...Done!",
          "Reading {d}/maps/lmheight.bmp header...Done!", "Writing BMP header to {d}/maps/edited/lm.bmp...Done!", "",
          "Reading and writing LM data...Done!"], None),
        ("dropped path", "my maps/WOODS.WLD", [], ["'{d}/my maps/WOODS.WLD' ", "c", "c", "c", "c"], [""], None),
        ("saved by a Windows editor", "WOODS.WLD", [], ["\ufeffWOODS.WLD\r", "c\r", "c", "c", "c"], [""], None),
        ("an export named .tga", "WOODS.WLD", [], ["WOODS.WLD", "y", "sm.tga", "c", "c", "c"],
         ["Writing {d}/sm.tga...Done!", ""], "{d}/sm.tga will hold a BMP: exports are BMP files unless"),
    ]

    def test_every_answer_meets_its_own_question(self):
        for name, world, present, answers, after, note in self.CASES:
            with self.subTest(case=name):
                self.tearDown()
                self.setUp()
                os.makedirs(self.path("maps/edited"))
                os.makedirs(self.path("my maps"))
                path = self.world(world)
                before = World(read(path))
                _, files = lm_pass_model(before.data, exports=ORDER)
                files["smallmap"] = expected_export(before, "smallmap")
                for f in present:
                    write(self.path(f), files[os.path.basename(f).split(".")[0]])
                d = self.dir
                r = self.run_tool([a.format(d=d) for a in answers])
                self.assertOutput(r, header_block(path, before.fields) + lines(*[l.format(d=d) for l in after]))
                if note:
                    self.assertIn(note.format(d=d).encode(), r.err)
                self.assertEqual(read(path), before.data)
                self.assertFalse(os.path.exists(self.path("y.bmp")))
