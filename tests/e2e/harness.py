"""Runs the built tool with answers on standard input and models, independently
of the tool's code, what its files must hold afterwards."""
import os
import re
import resource
import select
import struct
import subprocess
import tempfile
import time
import unittest

_BUILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
VELMARSH = os.path.abspath(os.environ.get("VELMARSH", os.path.join(_BUILD, "velmarsh")))
WORLDGEN = os.path.abspath(os.environ.get("WORLDGEN", os.path.join(_BUILD, "worldgen")))
FAULT_PROBE = os.path.abspath(os.environ.get("FAULT_PROBE", os.path.join(_BUILD, "tests", "fault_probe")))
PNG_PROBE = os.path.abspath(os.environ.get("PNG_PROBE", os.path.join(_BUILD, "tests", "png_probe")))

CRLF = b"\r\n"
# A script's answers that export every layer of ./WOODS.WLD under the
# proposed names, and that import them back from those names.
EXPORT_ALL = ["WOODS.WLD", "y", "", "y", "", "y", "", "y", ""]
IMPORT_ALL = ["WOODS.WLD", "n", "smallmap.bmp", "n", "landtype.bmp", "n", "lmheight.bmp", "n", "largemap.bmp"]
QUESTION = (b"Do you wish to export this data to a BMP file?\n"
            b"Choose 'No' to import data instead, or 'Cancel' to skip.")
LABELS = [b" OffsetSize:     ", b" Width:          ", b" Height:         ",
          b" NullValue:      ", b" Data1Offset:    ", b" Unknown1:       ",
          b" Unknown2:       ", b" SmallMapOffset: "]
LAYER_BYTES = {"landtype": 8, "lmheight": 9}


def lines(*items):
    """Console lines, each ending with CR LF; bytes or str."""
    return b"".join((i.encode() if isinstance(i, str) else i) + CRLF for i in items)


def banner(utf8=False):
    top = b"\xc9" + b"\xcd" * 23 + b"\xbb"
    mid = b"\xba Velmarsh v3.00 beta 2 \xba"
    bottom = b"\xc8" + b"\xcd" * 23 + b"\xbc"
    text = lines(top, mid, bottom)
    if utf8:
        text = text.decode("cp437").encode("utf-8")
    return text


def header_block(path, fields):
    """Banner, the Loading line and the header block for an opened world."""
    out = banner() + lines(f"Loading {path}...", "", "Header info:")
    out += b"".join(label + str(v).encode() + CRLF for label, v in zip(LABELS, fields))
    return out + CRLF


class Result:
    def __init__(self, proc):
        self.out, self.err, self.rc = proc.stdout, proc.stderr, proc.returncode


# An error line of the report (alone, or ending a progress text), and the note
# in words that follows each on standard error.
ERROR_LINE = re.compile(rb"(?:^|\.\.\.)Error (\d+) [^\r\n]*!\r$", re.M)
ERROR_NOTE = re.compile(rb"^Error (\d+) means ", re.M)


def check_error_notes(out, err):
    """Every error line has exactly one note, for its own code, in order."""
    codes, notes = ERROR_LINE.findall(out), ERROR_NOTE.findall(err)
    if codes != notes:
        raise AssertionError(f"error lines {codes} but notes {notes}:\n{err.decode(errors='replace')}")


def tool_env(cwd):
    """The environment of every run: a plain locale, home in the test's folder."""
    env = {"PATH": "/usr/bin:/bin", "HOME": cwd, "LC_ALL": "C"}
    env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
    return env


def start_tool(cwd, answers=(), preexec=None, stderr=subprocess.DEVNULL):
    """A run that goes on in the background, its answers so far written and
    standard input left open."""
    proc = subprocess.Popen([VELMARSH], cwd=cwd, env=tool_env(cwd), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=stderr, preexec_fn=preexec)
    proc.stdin.write("".join(a + "\n" for a in answers).encode())
    proc.stdin.flush()
    return proc


def read_until(stream, text, timeout=120):
    """What a pipe delivers until text has arrived (or it ends, or time is up)."""
    seen = b""
    deadline = time.time() + timeout
    while text not in seen and time.time() < deadline:
        if select.select([stream], [], [], 1)[0]:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                break
            seen += chunk
    return seen


def run_tool(answers, cwd, env_extra=None, file_limit=None, stdout=None, exe=None, args=()):
    """Runs the tool with one answer per line; returns stdout, stderr and code."""
    env = tool_env(cwd)
    env.update(env_extra or {})
    preexec = None
    if file_limit is not None:
        def preexec():
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    data = "".join(a + "\n" for a in answers).encode()
    proc = subprocess.run([exe or VELMARSH, *args], input=data, cwd=cwd, env=env,
                          stdout=stdout if stdout is not None else subprocess.PIPE,
                          stderr=subprocess.PIPE, preexec_fn=preexec, timeout=120)
    if stdout is None:
        check_error_notes(proc.stdout, proc.stderr)
    return Result(proc)


def gen(kind, path, **opts):
    args = [WORLDGEN, kind, path]
    for key, value in opts.items():
        key = "--" + key.replace("_", "-")
        if value is True:
            args.append(key)
        elif value is not None and value is not False:
            args += [key, str(value)]
    subprocess.run(args, check=True)
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# ---- A model of the world file -----------------------------------------------

class World:
    def __init__(self, data):
        self.data = bytearray(data)
        (self.offset_size, self.width, self.height, self.null_value, self.data1,
         self.unknown1, self.unknown2, self.smallmap) = struct.unpack_from("<8I", data, 0)

    @property
    def fields(self):
        return [self.offset_size, self.width, self.height, self.null_value, self.data1,
                self.unknown1, self.unknown2, self.smallmap]

    def entry(self, x, y):
        return struct.unpack_from("<I", self.data, 144 + 4 * (self.width * y + x))[0]

    def record(self, x, y):
        p = self.entry(x, y)
        return self.data[p:p + 47]

    def smallmap_block(self):
        return bytes(self.data[self.smallmap:self.smallmap + self.width * self.height])


def stride(width):
    return (width + 3) & ~3


def bmp_header(width, height, landtype=False):
    size_image = (stride(width) * height) & 0xFFFFFFFF
    head = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", (size_image + 1078) & 0xFFFFFFFF, 0, 0, 1078,
                       40, width, height, 1, 8, 0, size_image, 2835, 2835, 256, 256)
    palette = bytearray()
    for i in range(256):
        palette += bytes([i, i, i, 0])
    if landtype:
        palette[0:12] = bytes([0x00, 0x80, 0x00, 0, 0x80, 0x80, 0x80, 0, 0x00, 0xFF, 0xFF, 0])
    return head + bytes(palette)


def layer_image(world, layer):
    """The layer as rows of pixel values, top row first."""
    w, h = world.width, world.height
    if layer == "smallmap":
        block = world.smallmap_block()
        return [block[y * w:(y + 1) * w] for y in range(h)]
    if layer in LAYER_BYTES:
        b = LAYER_BYTES[layer]
        return [bytes(world.record(x, y)[b] for x in range(w)) for y in range(h)]
    rows = []
    for y in range(h):
        recs = [world.record(x, y) for x in range(w)]
        for k in range(5):
            rows.append(b"".join(bytes(r[22 + 5 * k:27 + 5 * k]) for r in recs))
    return rows


def expected_export(world, layer):
    rows = layer_image(world, layer)
    width = len(rows[0])
    pad = bytes(stride(width) - width)
    return bmp_header(width, len(rows), layer == "landtype") + b"".join(r + pad for r in reversed(rows))


def bitmap_pixel_start(bmp):
    return struct.unpack_from("<I", bmp, 10)[0]


def apply_smallmap_import(world, bmp):
    """What a SmallMap import does to the world bytes: row by row, bottom first,
    a row cut short writes what arrived, padding skipped except after the last."""
    w, h = world.width, world.height
    out = bytearray(world.data)
    pos = bitmap_pixel_start(bmp)
    for y in range(h - 1, -1, -1):
        chunk = bmp[pos:pos + w] if pos < len(bmp) else b""
        n = len(chunk)
        pos += n
        if n % 4 and y > 0:
            pos += 4 - n % 4
        start = world.smallmap + y * w
        out[start:start + n] = chunk
    return bytes(out)


LANDTYPE_COLOURS = [(0, 128, 0), (128, 128, 128), (255, 255, 0)]


def value_of_colour(rgb, layer):
    """What an import takes a colour for: its brightness for the grey layers,
    the nearest of LandType's colours (the lower value on a tie)."""
    if layer != "landtype":
        r, g, b = rgb
        return (77 * r + 150 * g + 29 * b + 128) >> 8
    return min(range(3), key=lambda v: (sum((a - c) ** 2 for a, c in zip(rgb, LANDTYPE_COLOURS[v])), v))


def lm_pass_model(data, exports=(), imports=None):
    """The LM pass, cell by cell as the tool walks them: bottom row first, each
    record read after every earlier cell's write, exports taken before the
    imports touch it. Returns the world bytes and the exported files."""
    imports = imports or {}
    world = World(data)
    w, h = world.width, world.height
    out = bytearray(data)
    large_stride = stride(5 * w)
    pixels = {layer: bytearray(stride(w) * h) for layer in LAYER_BYTES if layer in exports}
    if "largemap" in exports:
        pixels["largemap"] = bytearray(large_stride * 5 * h)
    for y in range(h - 1, -1, -1):
        for x in range(w):
            p = struct.unpack_from("<I", out, 144 + 4 * (w * y + x))[0]
            rec = bytearray(out[p:p + 47])
            for k in range(5):
                at = large_stride * (5 * h - 1 - (5 * y + k)) + 5 * x
                if "largemap" in exports:
                    pixels["largemap"][at:at + 5] = rec[22 + 5 * k:27 + 5 * k]
                if "largemap" in imports:
                    bmp = imports["largemap"]
                    at += bitmap_pixel_start(bmp)
                    got = bmp[at:at + 5] if at < len(bmp) else b""
                    rec[22 + 5 * k:22 + 5 * k + len(got)] = got
            for layer, b in LAYER_BYTES.items():
                at = stride(w) * (h - 1 - y) + x
                if layer in exports:
                    pixels[layer][at] = rec[b]
                if layer in imports:
                    bmp = imports[layer]
                    at += bitmap_pixel_start(bmp)
                    if at < len(bmp):
                        rec[b] = bmp[at]
            if "landtype" in imports and rec[8] >= 3:
                rec[8] = 0
            if imports:
                out[p:p + 47] = rec
    files = {}
    for layer, px in pixels.items():
        scale = 5 if layer == "largemap" else 1
        files[layer] = bmp_header(scale * w, scale * h, layer == "landtype") + bytes(px)
    return bytes(out), files


class ToolTest(unittest.TestCase):
    """A fresh folder per test; paths the tool prints are absolute in it."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="velmarsh-e2e-")
        self.dir = os.path.realpath(self._tmp.name)

    def tearDown(self):
        for root, dirs, files in os.walk(self.dir):
            for name in files:
                path = os.path.join(root, name)
                if os.path.islink(path):
                    continue  # a link's target is not the test's to change
                try:
                    os.chmod(path, 0o644)
                except OSError:
                    pass
        self._tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def world(self, name="WOODS.WLD", **opts):
        opts.setdefault("width", 16)
        opts.setdefault("height", 12)
        return gen("world", self.path(name), **opts)

    def bitmap(self, name, **opts):
        return gen("bmp", self.path(name), **opts)

    def run_tool(self, answers, **kw):
        return run_tool(answers, self.dir, **kw)

    def assertOutput(self, result, expected):
        self.assertEqual(result.out, expected, msg="stderr:\n" + result.err.decode(errors="replace"))
        self.assertEqual(result.rc, 0)
