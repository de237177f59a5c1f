"""Scenarios that run the same way against the Linux build (answers on
standard input) and the Windows build (dialogs answered under Wine), so that
a difference between the two builds shows; the scenarios that a command
line can give run once more with it, for the same report.

A scenario's steps are what a person does: press a message box's button, type
a file name into a dialog and press OK, cancel a dialog. (Replacing a file
needs a person at the Linux build; scripts never replace.) Paths and error
codes come from the platform (ctx)."""
import os
import subprocess

from PIL import Image

from harness import (CRLF, World, banner, bmp_header, header_block, lines, lm_pass_model, read, stride,
                     value_of_colour, write)

ALL = ["landtype", "lmheight", "largemap"]
CAPTION = {"smallmap": "SmallMap", "landtype": "LandType", "lmheight": "LandHeight", "largemap": "LargeMap"}
NAME = {"smallmap": "smallmap.bmp", "landtype": "landtype.bmp", "lmheight": "lmheight.bmp", "largemap": "largemap.bmp"}
ARGUMENT = {"smallmap": "smallmap", "landtype": "landtype", "lmheight": "landheight", "largemap": "largemap"}


def smallmap_file(world):
    w = world.width
    pad = bytes((4 - w % 4) % 4)
    block = world.smallmap_block()
    rows = [block[y * w:(y + 1) * w] + pad for y in range(world.height - 1, -1, -1)]
    from harness import bmp_header
    return bmp_header(w, world.height) + b"".join(rows)


def layer_steps(world, plan):
    """The world dialog answered with world (None: no world step), then each
    layer's box: plan[layer] is ("yes", path) or ("no", path), a path of None
    accepting the proposal; a layer not in the plan is cancelled."""
    steps = [] if world is None else [("file", "Open WOODS.WLD", world)]
    for layer in ["smallmap"] + ALL:
        box = f"Export {CAPTION[layer]} BMP"
        if layer not in plan:
            steps.append(("box", box, "cancel"))
            continue
        button, path = plan[layer]
        dialog = box if button == "yes" else f"Import {CAPTION[layer]} BMP"
        steps += [("box", box, button), ("accept", dialog) if path is None else ("file", dialog, path)]
    return steps


def export_steps(ctx, layers):
    return layer_steps(ctx.path("WOODS.WLD"), {layer: ("yes", ctx.path(NAME[layer])) for layer in layers})


def import_steps(ctx, layers):
    return layer_steps(ctx.path("WOODS.WLD"), {layer: ("no", ctx.path(NAME[layer])) for layer in layers})


def import_arguments(ctx, files):
    """The command line that imports each layer from its file."""
    return ["import", ctx.path("WOODS.WLD")] + [f"{ARGUMENT[layer]}={path}" for layer, path in files]


class Scenario:
    world = dict(width=13, height=7, layout="shuffled", seed=2)
    arguments_exit = 0

    def prepare(self, ctx):
        pass

    def arguments(self, ctx):
        """The command line that gives the steps' answers, if there is one."""
        return None

    def check(self, ctx, test):
        pass


class CancelWorldDialog(Scenario):
    def steps(self, ctx):
        return [("cancel", "Open WOODS.WLD")]

    def expected(self, ctx):
        return banner()


class AllCancelled(Scenario):
    def steps(self, ctx):
        return export_steps(ctx, [])

    def expected(self, ctx):
        return header_block(ctx.path("WOODS.WLD"), ctx.before.fields) + CRLF

    def check(self, ctx, test):
        test.assertEqual(read(ctx.local("WOODS.WLD")), ctx.before.data)


class ExportAll(Scenario):
    def steps(self, ctx):
        return export_steps(ctx, ["smallmap"] + ALL)

    def arguments(self, ctx):
        return ["export", ctx.path("WOODS.WLD")]

    def expected(self, ctx):
        return header_block(ctx.path("WOODS.WLD"), ctx.before.fields) + lines(
            f"Writing {ctx.path('smallmap.bmp')}...Done!",
            *[f"Writing BMP header to {ctx.path(NAME[l])}...Done!" for l in ALL], "",
            "Reading and writing LM data...Done!")

    def check(self, ctx, test):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=ALL)
        files["smallmap"] = smallmap_file(ctx.before)
        for layer, data in files.items():
            test.assertEqual(read(ctx.local(NAME[layer])), data, layer)
        test.assertEqual(read(ctx.local("WOODS.WLD")), ctx.before.data)
        test.assertFalse(os.path.exists(ctx.local("WOODS.WLD.bak")))  # exports back nothing up


class ImportBack(Scenario):
    """The exported files, unchanged, back in: the world stays as it was."""

    def prepare(self, ctx):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=ALL)
        files["smallmap"] = smallmap_file(ctx.before)
        for layer, data in files.items():
            write(ctx.local(NAME[layer]), data)

    def steps(self, ctx):
        return import_steps(ctx, ["smallmap"] + ALL)

    def arguments(self, ctx):
        return import_arguments(ctx, [(layer, ctx.path(NAME[layer])) for layer in ["smallmap"] + ALL])

    def expected(self, ctx):
        return header_block(ctx.path("WOODS.WLD"), ctx.before.fields) + lines(
            f"Importing {ctx.path('smallmap.bmp')}...Done!",
            *[f"Reading {ctx.path(NAME[l])} header...Done!" for l in ALL], "",
            "Reading and writing LM data...Done!")

    def check(self, ctx, test):
        test.assertEqual(read(ctx.local("WOODS.WLD")), ctx.before.data)


class EditedImport(ImportBack):
    """Bitmaps with changed pixels: exactly the model's bytes change."""
    FILES = {layer: NAME[layer] for layer in ALL}

    def prepare(self, ctx):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=ALL)
        self.imports = {}
        for layer, data in files.items():
            edited = bytearray(data)
            for i in range(1078, len(edited), 3):
                edited[i] = (edited[i] + 1) % 3 if layer == "landtype" else (edited[i] * 5 + 17) % 256
            self.imports[layer] = bytes(edited)
            write(ctx.local(NAME[layer]), self.imports[layer])

    def steps(self, ctx):
        return layer_steps(ctx.path("WOODS.WLD"), {l: ("no", ctx.path(n)) for l, n in self.FILES.items()})

    def arguments(self, ctx):
        return import_arguments(ctx, [(l, ctx.path(n)) for l, n in self.FILES.items()])

    def expected(self, ctx):
        return header_block(ctx.path("WOODS.WLD"), ctx.before.fields) + lines(
            *[f"Reading {ctx.path(n)} header...Done!" for n in self.FILES.values()], "",
            "Reading and writing LM data...Done!")

    def check(self, ctx, test):
        expected, _ = lm_pass_model(bytes(ctx.before.data), imports=self.imports)
        test.assertEqual(read(ctx.local("WOODS.WLD")), expected)
        test.assertNotEqual(expected, bytes(ctx.before.data))
        # The world as it was, to undo the import with.
        test.assertEqual(read(ctx.local("WOODS.WLD.bak")), ctx.before.data)
        test.assertFalse(os.path.exists(ctx.local("WOODS.WLD.bak.tmp")))


def as_exported(path, layer):
    """The file an export would hold for the values an import takes from the
    image at path: the model of the pass reads it like any exported file."""
    with Image.open(path) as im:
        width, height = im.size
        values = [value_of_colour(rgb, layer) for rgb in im.convert("RGB").getdata()]
    pad = bytes(stride(width) - width)
    rows = [bytes(values[y * width:(y + 1) * width]) + pad for y in range(height - 1, -1, -1)]
    return bmp_header(width, height) + b"".join(rows)


class OtherKinds(EditedImport):
    """A PNG and a 24-bit BMP, as image programs save edits, taken by colour:
    both builds decode them to the same values."""
    FILES = {"lmheight": "edited-lh.png", "largemap": "edited-lm.bmp"}

    def prepare(self, ctx):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=ALL)
        self.imports = {}
        for layer, name in self.FILES.items():
            write(ctx.local(name + ".bmp"), files[layer])
            with Image.open(ctx.local(name + ".bmp")) as im:
                im = im.convert("RGB")
            for x in range(2, 9):
                im.putpixel((x, 3), (200, 60, 30))
            im.save(ctx.local(name))
            self.imports[layer] = as_exported(ctx.local(name), layer)


class Os2Bitmaps(EditedImport):
    """BMP files of the OS/2 layout (a 12-byte header, 3-byte palette
    entries), edited exports as netpbm's ppmtobmp -os2 (8 bits with a
    palette) and ImageMagick's BMP2: write them, taken by colour."""
    FILES = {"landtype": "os2-magick.bmp", "lmheight": "os2-ppmtobmp.bmp"}

    def prepare(self, ctx):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=ALL)
        self.imports = {}
        for layer, name in self.FILES.items():
            edited = ctx.local(name + ".png")
            write(ctx.local(name + ".export.bmp"), files[layer])
            with Image.open(ctx.local(name + ".export.bmp")) as im:
                im = im.convert("RGB")
            for x in range(1, 6):  # near yellow on LandType, a brightness on LandHeight
                im.putpixel((x, 2), (250, 240, 10) if layer == "landtype" else (200, 60, 30))
            im.save(edited)
            if layer == "lmheight":
                im.save(ctx.local(name + ".ppm"))
                with open(ctx.local(name), "wb") as out:
                    subprocess.run(["ppmtobmp", "-os2", "-bpp", "8", ctx.local(name + ".ppm")], stdout=out,
                                   stderr=subprocess.DEVNULL, check=True)
            else:
                subprocess.run(["convert", edited, "BMP2:" + ctx.local(name)], check=True)
            self.imports[layer] = as_exported(ctx.local(name), layer)


class SharingConflict(Scenario):
    """Two layers imported from one file: the second open is refused while
    the first holds it, and the first import goes ahead."""

    def prepare(self, ctx):
        _, files = lm_pass_model(bytes(ctx.before.data), exports=["lmheight"])
        self.bitmap = files["lmheight"]
        write(ctx.local("lmheight.bmp"), self.bitmap)

    arguments_exit = 1  # a layer named did not move

    def steps(self, ctx):
        lh = ctx.path("lmheight.bmp")
        return layer_steps(ctx.path("WOODS.WLD"), {"landtype": ("no", lh), "lmheight": ("no", lh)})

    def arguments(self, ctx):
        lh = ctx.path("lmheight.bmp")
        # A grey export taken for LandType asks for --force on the command line.
        return import_arguments(ctx, [("landtype", lh), ("lmheight", lh)]) + ["--force"]

    def expected(self, ctx):
        lh = ctx.path("lmheight.bmp")
        return header_block(ctx.path("WOODS.WLD"), ctx.before.fields) + lines(
            f"Reading {lh} header...Done!", f"Error {ctx.sharing_violation} opening {lh}!", "",
            "Reading and writing LM data...Done!")

    def check(self, ctx, test):
        expected, _ = lm_pass_model(bytes(ctx.before.data), imports={"landtype": self.bitmap})
        test.assertEqual(read(ctx.local("WOODS.WLD")), expected)


SCENARIOS = [CancelWorldDialog, AllCancelled, ExportAll, ImportBack, EditedImport, OtherKinds, Os2Bitmaps,
             SharingConflict]


def as_answers(steps):
    """The steps as lines for standard input."""
    out = []
    for step in steps:
        if step[0] == "box":
            out.append({"yes": "y", "no": "n", "cancel": "c"}[step[2]])
        elif step[0] == "file":
            out.append(step[2])
        elif step[0] == "cancel":
            out.append("")  # an empty name with none proposed cancels an Open dialog
    return out


class PosixContext:
    sharing_violation = 16

    def __init__(self, test):
        self.test = test

    def path(self, name):
        return self.test.path(name)

    local = path


def run_posix(test, scenario_class, by_arguments=False):
    """The scenario answered on standard input, or by its command line,
    which must give the same report and files."""
    scenario = scenario_class()
    ctx = PosixContext(test)
    if by_arguments and scenario.arguments(ctx) is None:
        return
    test.world(**scenario.world)
    ctx.before = World(read(ctx.local("WOODS.WLD")))
    scenario.prepare(ctx)
    if by_arguments:
        r = test.run_tool([], args=scenario.arguments(ctx))
        test.assertEqual((r.out, r.rc), (scenario.expected(ctx), scenario.arguments_exit), r.err)
    else:
        test.assertOutput(test.run_tool(as_answers(scenario.steps(ctx))), scenario.expected(ctx))
    scenario.check(ctx, test)
