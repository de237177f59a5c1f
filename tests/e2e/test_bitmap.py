"""SmallMap export and import, and the bitmap header check as users meet it."""
import os

from PIL import Image

from harness import (CRLF, World, apply_smallmap_import, expected_export, header_block, layer_image,
                     lines, read, write, ToolTest)

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
                self.assertEqual(read(path), apply_smallmap_import(World(start), bytes(edited[:cut])))

    def test_width_2048_needs_a_bigger_boat(self):
        path, before, r = self.export(width=2048, height=1)
        bmp = self.path("smallmap.bmp")
        self.assertOutput(r, header_block(path, World(before).fields) +
                          lines(f"Writing {bmp}...We're going to need a bigger boat.", "Done!", ""))
        self.assertEqual(read(bmp), expected_export(World(before), "smallmap")[:1078])
        write(bmp, expected_export(World(before), "smallmap"))
        r = self.run_tool(["WOODS.WLD", "n", "smallmap.bmp"] + SKIP_LAYERS)
        self.assertIn(lines(f"Importing {bmp}...We're going to need a bigger boat.", "Done!"), r.out)
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

    def test_short_bitmap_writes_what_it_holds(self):
        for cut in (0, 5, 10, 11, 13, 22, 29, 71):  # rows of 9 pixels in 12 bytes
            with self.subTest(cut=cut):
                path = self.world(width=9, height=6, seed=cut)
                before = read(path)
                bmp = self.bitmap("short.bmp", width=9, height=6, pattern="noise", truncate=cut)
                r = self.run_tool(["WOODS.WLD", "n", "short.bmp"] + SKIP_LAYERS)
                self.assertIn(lines(f"Importing {bmp}...Done!"), r.out)
                self.assertEqual(read(path), apply_smallmap_import(World(before), read(bmp)))

    def test_rejected_imports_leave_the_world_alone(self):
        cases = [
            ({"bits": 24}, "BMP is the wrong color depth!"),
            ({"compression": 1, "bits": 4}, "BMP is compressed!"),
            ({"width": 10}, "Width of BMP is not equal to 9!"),
            ({"top_down": True}, "Height of BMP is not equal to 6!"),
            ({"truncate": -1}, "{path} is not a valid BMP file!"),
        ]
        path = self.world(width=9, height=6)
        before = read(path)
        for opts, message in cases:
            with self.subTest(**opts):
                opts = dict({"width": 9, "height": 6}, **opts)
                bmp = self.path("bad.bmp")
                if opts.pop("truncate", None) == -1:
                    write(bmp, b"BM" + bytes(30))
                else:
                    self.bitmap("bad.bmp", **opts)
                r = self.run_tool(["WOODS.WLD", "n", "bad.bmp"] + SKIP_LAYERS)
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  lines(f"Importing {bmp}..." + message.format(path=bmp), "Done!", ""))
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
                if os.path.exists(bmp):
                    os.remove(bmp)
                r = self.run_tool(["WOODS.WLD", "y", ""] + SKIP_LAYERS, file_limit=limit)
                self.assertOutput(r, header_block(path, World(before).fields) +
                                  line.format(b=bmp).encode() + CRLF + CRLF)
                self.assertEqual(os.path.getsize(bmp), limit)
        self.assertEqual(read(path), before)
