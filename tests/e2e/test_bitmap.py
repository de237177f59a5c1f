"""SmallMap export and import, and the bitmap header check as users meet it."""
import os
import shutil
import subprocess

from PIL import Image

from harness import (CRLF, EXPORT_ALL, World, apply_smallmap_import, expected_export, header_block,
                     layer_image, lines, read, tool_env, value_of_colour, write, ToolTest)

SKIP_LAYERS = ["c", "c", "c"]


class SmallMap(ToolTest):
    def export(self, **world_opts):
        if os.path.exists(self.path("smallmap.bmp")):
            os.remove(self.path("smallmap.bmp"))
        path = self.world(**world_opts)
        before = read(path)
        r = self.run_tool(["WOODS.WLD", "y", ""] + SKIP_LAYERS)
        return path, before, r

    def test_export_sizes_and_padding(self):
        for width, height in ((100, 80), (5, 7), (101, 3), (4, 2), (2047, 2), (1, 1)):
            with self.subTest(width=width):
                path, before, r = self.export(width=width, height=height, seed=width)
                bmp = self.path("smallmap.bmp")
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  lines(f"Writing {bmp}...Done!", ""))
                self.assertEqual(read(bmp), expected_export(World(before), "smallmap"))
                self.assertEqual(os.path.getsize(bmp), 1078 + ((width + 3) & ~3) * height)
                self.assertEqual(read(path), before)
        self.assertEqual(os.path.getsize(self.path("smallmap.bmp")), 1082)

    def test_wide_map_moves_in_chunks(self):
        # 600 rows of 2048 bytes are more than one chunk of rows each way.
        path, before, _ = self.export(width=2047, height=600, seed=4)
        bmp = read(self.path("smallmap.bmp"))
        self.assertEqual(bmp, expected_export(World(before), "smallmap"))
        self.run_tool(["WOODS.WLD", "n", "smallmap.bmp"] + SKIP_LAYERS)
        self.assertEqual(read(path), before)
        edited = bytearray(bmp)
        for i in range(1078, len(edited), 7):
            edited[i] ^= 0x5A
        for cut in (1078 + 2048 * 530 + 1000, len(edited)):
            with self.subTest(cut=cut):
                write(self.path("edited.bmp"), bytes(edited[:cut]))
                start = read(path)
                self.run_tool(["WOODS.WLD", "n", "edited.bmp"] + SKIP_LAYERS)
                # A file cut short changes nothing; a whole one every chunk.
                expected = apply_smallmap_import(World(start), bytes(edited)) if cut == len(edited) else start
                self.assertEqual(read(path), expected)

    def test_width_2048_needs_a_bigger_boat(self):
        path, before, r = self.export(width=2048, height=1)
        bmp = self.path("smallmap.bmp")
        self.assertOutput(r, header_block(path, World(before).fields) +
                          lines(f"Writing {bmp}...We're going to need a bigger boat.", "Done!", ""))
        self.assertFalse(os.path.exists(bmp))  # never made, so never cut short
        write(bmp, expected_export(World(before), "smallmap"))
        r = self.run_tool(["WOODS.WLD", "n", "smallmap.bmp"] + SKIP_LAYERS)
        self.assertIn(lines(f"Importing {bmp}...We're going to need a bigger boat.", "Done!"), r.out)
        self.assertIn(b"SmallMap moves only for worlds up to 2047 cells wide and this one is 2048", r.err)
        self.assertEqual(read(path), before)

    def test_exported_bitmap_opens_upright_in_an_image_library(self):
        path, before, _ = self.export(width=37, height=21)
        with Image.open(self.path("smallmap.bmp")) as im:
            # A grey ramp palette opens as plain greyscale, where value is index.
            self.assertIn(im.mode, ("L", "P"))
            self.assertEqual(im.size, (37, 21))
            rows = [bytes(im.getdata())[y * 37:(y + 1) * 37] for y in range(21)]
        self.assertEqual(rows, layer_image(World(before), "smallmap"))

    def test_round_trip_changes_nothing(self):
        for layout in ("inorder", "overlap"):
            with self.subTest(layout=layout):
                path, before, _ = self.export(width=13, height=9, layout=layout, smallmap="before")
                r = self.run_tool(["WOODS.WLD", "n", "smallmap.bmp"] + SKIP_LAYERS)
                self.assertIn(lines(f"Importing {self.path('smallmap.bmp')}...Done!"), r.out)
                self.assertEqual(read(path), before)

    def test_edited_import_changes_exactly_the_block(self):
        path, before, _ = self.export(width=30, height=20)
        bmp = self.path("smallmap.bmp")
        with Image.open(bmp) as im:
            im.load()
            for x, y, v in ((0, 0, 1), (29, 19, 2), (7, 11, 250), (29, 0, 77)):
                im.putpixel((x, y), v)
            im.save(self.path("edited.bmp"))
        r = self.run_tool(["WOODS.WLD", "n", "edited.bmp"] + SKIP_LAYERS)
        self.assertIn(b"...Done!\r\n", r.out)
        after = read(path)
        world = World(before)
        expected = bytearray(before)
        for x, y, v in ((0, 0, 1), (29, 19, 2), (7, 11, 250), (29, 0, 77)):
            expected[world.smallmap + 30 * y + x] = v
        self.assertEqual(after, bytes(expected))

    def test_import_reads_from_its_own_pixel_offset(self):
        path = self.world(width=9, height=6)
        before = read(path)
        bmp = self.bitmap("sixteen.bmp", width=9, height=6, palette=16, pattern="noise")
        self.assertEqual(int.from_bytes(read(bmp)[10:14], "little"), 118)
        r = self.run_tool(["WOODS.WLD", "n", "sixteen.bmp"] + SKIP_LAYERS)
        self.assertIn(lines(f"Importing {bmp}...Done!"), r.out)
        self.assertEqual(read(path), apply_smallmap_import(World(before), read(bmp)))
        self.assertNotEqual(read(path), before)

    def test_another_layers_bitmap_is_named(self):
        # LandType's export chosen for SmallMap: its pixels are taken as they
        # stand, and standard error says whose palette the file has.
        path = self.world(width=9, height=6)
        self.run_tool(["WOODS.WLD", "c", "y", "", "c", "c"])
        before = read(path)
        r = self.run_tool(["WOODS.WLD", "n", "landtype.bmp"] + SKIP_LAYERS)
        self.assertIn(b"SmallMap: this BMP has the palette of a LandType export", r.err)
        self.assertEqual(read(path), apply_smallmap_import(World(before), read(self.path("landtype.bmp"))))

    def test_a_cut_short_bitmap_is_refused_but_for_its_last_padding(self):
        # Rows of 9 pixels in 12 bytes: the last row's pixels end at 69 of 72.
        full = read(self.bitmap("full.bmp", width=9, height=6, pattern="noise"))
        for cut, whole in ((0, False), (11, False), (22, False), (68, False), (69, True), (71, True)):
            with self.subTest(cut=cut):
                path = self.world(width=9, height=6, seed=cut)
                before = read(path)
                bmp = self.bitmap("short.bmp", width=9, height=6, pattern="noise", truncate=cut)
                r = self.run_tool(["WOODS.WLD", "n", "short.bmp"] + SKIP_LAYERS)
                if whole:
                    self.assertIn(lines(f"Importing {bmp}...Done!"), r.out)
                    self.assertEqual(read(path), apply_smallmap_import(World(before), full))
                else:
                    self.assertIn(lines(f"Importing {bmp}...{bmp} is not a valid BMP file!", "Done!"), r.out)
                    self.assertIn(f"The BMP holds {1078 + cut} bytes, and its size needs 1147".encode(), r.err)
                    self.assertEqual(read(path), before)

    def test_rejected_imports_leave_the_world_alone(self):
        # (header options, refusal line, what its note on standard error says)
        cases = [
            ({"bits": 2}, "BMP is the wrong color depth!", "has 2 bits per pixel"),
            ({"compression": 4, "bits": 24}, "BMP is compressed!", "compressed with JPEG"),
            ({"compression": 1, "bits": 4}, "BMP is the wrong color depth!", "RLE8 compression with 4 bits"),
            ({"width": 10}, "Width of BMP is not equal to 9!", "The image is 10 x 6 pixels; SmallMap"),
            ({"height": 7, "top_down": True}, "Height of BMP is not equal to 6!", "The image is 9 x 7 pixels"),
            ({"bits": 24, "truncate": 140}, "{path} is not a valid BMP file!", "most likely an interrupted copy"),
            ({"truncate": -1}, "{path} is not a valid BMP file!", "holds only 32 bytes"),
        ]
        path = self.world(width=9, height=6)
        before = read(path)
        for opts, message, note in cases:
            with self.subTest(**opts):
                opts = dict({"width": 9, "height": 6}, **opts)
                bmp = self.path("bad.bmp")
                if opts.get("truncate") == -1:
                    write(bmp, b"BM" + bytes(30))
                else:
                    self.bitmap("bad.bmp", **opts)
                r = self.run_tool(["WOODS.WLD", "n", "bad.bmp"] + SKIP_LAYERS)
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  lines(f"Importing {bmp}..." + message.format(path=bmp), "Done!", ""))
                self.assertIn(note.encode(), r.err)
                self.assertEqual(read(path), before)

    def test_cancelled_dialogs_print_nothing(self):
        path = self.world()
        before = read(path)
        for answer in ("y", "n"):
            r = self.run_tool(["WOODS.WLD", answer])  # the dialog meets the end of input
            self.assertOutput(r, header_block(path, World(before).fields) + CRLF)
        self.assertEqual(read(path), before)

    def test_write_failure_under_a_file_size_limit(self):
        path = self.world(width=64, height=64)
        before = read(path)
        bmp = self.path("smallmap.bmp")
        for limit, line in ((1000, "Writing {b}...Error 27 writing BMP header!\r\nDone!"),
                            (2048, "Writing {b}...Error 27 writing {b}!")):
            with self.subTest(limit=limit):
                r = self.run_tool(["WOODS.WLD", "y", ""] + SKIP_LAYERS, file_limit=limit)
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  line.format(b=bmp).encode() + CRLF + CRLF)
                # A file cut short is no export: it is gone, and standard error says so.
                self.assertFalse(os.path.exists(bmp))
                self.assertIn(f"Removed {bmp} (SmallMap)".encode(), r.err)
        self.assertEqual(read(path), before)


# ---- Files as image programs save them ---------------------------------------

GREY, RED, YELLOW, NEAR_YELLOW = (200, 200, 200), (200, 60, 30), (255, 255, 0), (240, 230, 40)
PROPOSED = {"smallmap": "smallmap.bmp", "landtype": "landtype.bmp", "lmheight": "lmheight.bmp",
            "largemap": "largemap.bmp"}
LAYERS = ["smallmap", "landtype", "lmheight", "largemap"]
CAPTION = {"smallmap": "SmallMap", "landtype": "LandType", "lmheight": "LandHeight", "largemap": "LargeMap"}
BOX = (2, 2, 9, 5)  # the painted rectangle: left, top, right, bottom (inclusive)
GIMP_LIBRARY = """
(define (vm-paint image rgb)
  (let ((drawable (car (gimp-image-get-active-drawable image))))
    (gimp-context-set-foreground rgb)
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE %d %d %d %d)
    (gimp-drawable-edit-fill drawable FILL-FOREGROUND)
    (gimp-selection-none image)))
(define (vm-load path) (car (gimp-file-load RUN-NONINTERACTIVE path path)))
(define (vm-save image path)
  (gimp-file-save RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image)) path path))
""" % (BOX[0], BOX[1], BOX[2] - BOX[0] + 1, BOX[3] - BOX[1] + 1)
# What a GIMP user does to the loaded image i before saving it.
GIMP_STEPS = {
    "rgb-indexed": "(gimp-image-convert-rgb i) (vm-paint i (list {c})) (gimp-image-convert-indexed i "
                   "CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 256 FALSE FALSE \"\") (vm-save i \"{{out}}\")",
    "png": "(vm-paint i (list {c})) (vm-save i \"{{out}}\")",
    "rgb": "(gimp-image-convert-rgb i) (vm-paint i (list {c})) (vm-save i \"{{out}}\")",
}


def pillow(colour, mode, fmt, **save):
    def edit(test, src, dst):
        with Image.open(src) as im:
            im = im.convert(mode) if mode else im.copy()
        paint = colour[0] if im.mode == "L" else colour + ((255,) if im.mode == "RGBA" else ())
        left, top, right, bottom = BOX
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                im.putpixel((x, y), paint)
        im.save(dst, fmt, **save)
    return edit


def pillow16(colour, scale=257):
    """A 16-bit grey PNG as Pillow writes one: mode I, each grey v as v * 257,
    or as v alone, its values in the low byte."""
    def edit(test, src, dst):
        pillow(colour, "L", "PNG")(test, src, dst + ".png")
        with Image.open(dst + ".png") as im:
            im.convert("I").point(lambda v: v * scale).save(dst, "PNG")
    return edit


def magick(colour, *options):
    """convert SRC -fill ... -draw ... [options] DST, the options ending in
    the output's format prefix where they name one."""
    def edit(test, src, dst):
        fmt = options[-1] if options and options[-1].endswith(":") else ""
        rest = options[:-1] if fmt else options
        left, top, right, bottom = BOX
        subprocess.run(["/usr/bin/convert", src, "-fill", "rgb(%d,%d,%d)" % colour, "-draw",
                        f"rectangle {left},{top} {right},{bottom}", *rest, fmt + dst], check=True)
    return edit


def netpbm(colour, *command):
    """The edit as a PPM, turned into the file by a netpbm program (ppmtobmp -bpp 8 unless named)."""
    def edit(test, src, dst):
        pillow(colour, "RGB", "PPM")(test, src, dst + ".ppm")
        with open(dst, "wb") as out:
            subprocess.run(["/usr/bin/" + (command or ("ppmtobmp", "-bpp", "8"))[0],
                            *(command or ("ppmtobmp", "-bpp", "8"))[1:], dst + ".ppm"], stdout=out,
                           stderr=subprocess.DEVNULL, check=True)
    return edit


def gimp(steps, colour):
    """A GIMP user's edit; every GIMP row is made in one batch run of GIMP
    (run_gimp), since GIMP takes seconds to start."""
    def edit(test, src, dst):
        if not os.path.exists(dst):
            test.skipTest("GIMP is not installed (Debian: gimp); its rows are skipped")
    edit.gimp_steps = GIMP_STEPS[steps].format(c="%d %d %d" % colour)
    return edit


def run_gimp(test, jobs):
    """jobs: (edit, source path, output path) of every GIMP row."""
    gimp_console = shutil.which("gimp-console", path="/usr/bin")
    if gimp_console is None or not jobs:
        return
    script = "(begin " + GIMP_LIBRARY + "".join(
        f"(let ((i (vm-load \"{src}\"))) " + edit.gimp_steps.format(out=dst) + ")" for edit, src, dst in jobs) + ")"
    # GIMP starts in seconds with the profile and caches of an earlier run
    # in the build folder, in many without.
    keep = os.path.join(os.environ.get("BUILD_DIR", test.dir), "gimp")
    env = dict(tool_env(test.dir), GIMP2_DIRECTORY=os.path.join(keep, "profile"),
               XDG_CACHE_HOME=os.path.join(keep, "cache"))
    subprocess.run([gimp_console, "-i", "-d", "-f", "-b", script, "-b", "(gimp-quit 0)"], cwd=test.dir, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)


class ImageProgramEdits(ToolTest):
    """A layer exported, edited and saved as each image program saves it,
    imported, and exported again: the world holds the values the edited
    image shows (its colours, as the import takes them), and standard error
    counts exactly the cells whose values changed."""

    ROWS = [
        # (what the user did, layer, edit, file name)
        ("GIMP: RGB, paint, Indexed with an optimum palette, export BMP", "lmheight", gimp("rgb-indexed", GREY),
         "gimp-indexed.bmp"),
        ("ImageMagick: -type Palette -compress none BMP3:", "lmheight",
         magick(GREY, "-type", "Palette", "-compress", "none", "BMP3:"), "magick.bmp"),
        ("netpbm: ppmtobmp -bpp 8", "landtype", netpbm(YELLOW), "netpbm.bmp"),
        ("ImageMagick's default: 32-bit bit fields", "largemap", magick(GREY), "magick.bmp"),
        ("Pillow: RGB, BMP", "landtype", pillow(NEAR_YELLOW, "RGB", "BMP"), "pillow.bmp"),
        ("GIMP: RGB, paint, export BMP", "lmheight", gimp("rgb", RED), "gimp-rgb.bmp"),
        ("GIMP: paint, export PNG", "landtype", gimp("png", YELLOW), "gimp.png"),
        ("GIMP: RGB, paint, Indexed: few colours, fewer bits", "landtype", gimp("rgb-indexed", YELLOW),
         "gimp-few.bmp"),
        ("Pillow: PNG", "smallmap", pillow(GREY, None, "PNG"), "pillow.png"),
        ("Pillow: RGBA, BMP", "largemap", pillow(RED, "RGBA", "BMP"), "pillow.bmp"),
        ("ImageMagick: RLE8", "lmheight", magick(GREY, "-type", "Palette", "-compress", "RLE", "BMP3:"), "rle.bmp"),
        ("ImageMagick: 16-bit RGB PNG, interlaced", "largemap", magick(RED, "-depth", "16", "-interlace", "PNG",
                                                                       "PNG48:"), "magick.png"),
        ("Pillow: 16-bit grey PNG (mode I)", "lmheight", pillow16(GREY), "pillow16.png"),
        ("Pillow: 16-bit grey PNG, the values in the low byte", "lmheight", pillow16(GREY, 1), "low16.png", ".bmp",
         "every 16-bit sample of this PNG lies below 256"),
        ("netpbm: pnmtopng -interlace", "largemap", netpbm(RED, "pnmtopng", "-interlace"), "netpbm.png"),
        ("ImageMagick: grey and alpha PNG", "lmheight", magick(GREY, "-type", "GrayscaleAlpha", "-define",
                                                               "png:color-type=4", "PNG:"), "magick-alpha.png"),
        ("Pillow: a palette of 2 bits", "landtype", pillow(YELLOW, None, "PNG", bits=2), "pillow2.png"),
        # The tool's own PNG exports, painted and saved again.
        ("Pillow: the tool's PNG export of LandType", "landtype", pillow(YELLOW, None, "PNG"), "own.png", ".png"),
        ("GIMP: the tool's PNG export of LargeMap, export PNG", "largemap", gimp("png", GREY), "gimp-own.png",
         ".png"),
    ]

    def answers(self, layer, button, name):
        out = ["WOODS.WLD"]
        for other in LAYERS:
            out += [button, name] if other == layer else ["c"]
        return out

    def values(self, path, layer, colours=False):
        """The picture's pixels, top row first: indices of an exported file,
        or what the import makes of the colours of any other."""
        with Image.open(path) as im:
            if not colours:
                return list(im.getdata())
            if im.mode.startswith("I"):  # 16-bit grey, 0 to 65535: the import takes the high byte
                return [value_of_colour((v >> 8,) * 3, layer) for v in im.getdata()]
            return [value_of_colour(rgb, layer) for rgb in im.convert("RGB").getdata()]

    def test_every_kind_comes_back_as_its_colours(self):
        world = self.world(width=13, height=9, seed=3)
        self.run_tool(EXPORT_ALL)
        self.run_tool([a.replace(".bmp", ".png") for a in EXPORT_ALL[:1]] +
                      [a for layer in LAYERS for a in ("y", PROPOSED[layer].replace(".bmp", ".png"))])
        pristine = read(world)
        # (what, layer, edit, file name, the kind of export edited, what standard error says too)
        rows = [row + (".bmp", "")[len(row) - 4:] for row in self.ROWS]
        source = lambda layer, kind: self.path(PROPOSED[layer].replace(".bmp", kind))
        run_gimp(self, [(edit, source(layer, kind), self.path(name)) for _, layer, edit, name, kind, _ in rows
                        if hasattr(edit, "gimp_steps")])
        for what, layer, edit, name, kind, says in rows:
            with self.subTest(what):
                write(world, pristine)
                edited = self.path(name)
                edit(self, source(layer, kind), edited)
                r = self.run_tool(self.answers(layer, "n", name))
                line = f"Importing {edited}...Done!" if layer == "smallmap" else "Reading and writing LM data...Done!"
                self.assertIn(lines(line), r.out)
                self.assertIn(f"{CAPTION[layer]}: taken by colour from ".encode(), r.err)
                self.assertIn(says.encode(), r.err)

                check = self.path("check.bmp")
                if os.path.exists(check):
                    os.remove(check)
                self.run_tool(self.answers(layer, "y", "check.bmp"))
                before = self.values(self.path(PROPOSED[layer]), layer)
                expected = self.values(edited, layer, colours=True)
                self.assertEqual(self.values(check, layer), expected)
                # The cells that changed, and no others, are counted.
                width = 65 if layer == "largemap" else 13
                scale = 5 if layer == "largemap" else 1
                changed = {(i % width // scale, i // width // scale) for i, (a, b) in
                           enumerate(zip(before, expected)) if a != b}
                self.assertTrue(changed)
                self.assertIn(f"{CAPTION[layer]}: {len(changed)} of 117 cells changed".encode(), r.err)
