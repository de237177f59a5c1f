"""How the tool reaches its users: make install, the manual page and the help
that matches it, the bash completion, the Debian package and lintian's word
on it, and the demo that keeps an imported edit. (The Windows zip: in
test_windows.py.)"""
import gzip
import os
import re
import shlex
import shutil
import subprocess
import unittest

from harness import EXPORT_ALL, IMPORT_ALL, VELMARSH, WORLDGEN, gen, read, run_tool, ToolTest

BUILD_DIR = os.environ.get("BUILD_DIR")
DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "demo.sh")


@unittest.skipIf(BUILD_DIR is None or os.environ.get("E2E_SANITIZED") == "1",
                 "the delivery of the normal build only")
class Delivery(ToolTest):
    def test_installed_tool_and_its_manual(self):
        prefix = self.path("prefix")
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        tool = os.path.join(prefix, "bin", "velmarsh")
        path = self.world(width=9, height=5, layout="shuffled")
        before = read(path)
        self.assertTrue(run_tool(EXPORT_ALL, self.dir, exe=tool).out.endswith(b"LM data...Done!\r\n"))
        self.assertTrue(run_tool(IMPORT_ALL, self.dir, exe=tool).out.endswith(b"LM data...Done!\r\n"))
        self.assertEqual(read(path), before)
        manual = os.path.join(prefix, "share", "man", "man1", "velmarsh.1.gz")
        with gzip.open(manual) as page:
            r = subprocess.run(["groff", "-man", "-ww", "-z"], input=page.read(), stderr=subprocess.PIPE)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.check_completion(os.path.join(prefix, "share", "bash-completion", "completions", "velmarsh"))

    COMPLETIONS = [
        # (the words up to the cursor, what bash offers)
        (["ex"], ["export"]),
        (["--v"], ["--version"]),
        ([""], ["WOODS.WLD", "export", "import", "maps"]),
        (["import", "W"], ["WOODS.WLD"]),
        (["export", "WOODS.WLD", "--"], ["--", "--replace"]),
        (["import", "WOODS.WLD", "--"], ["--", "--force"]),
        (["export", "WOODS.WLD", "landtype", "La"], ["landheight", "largemap"]),
        (["import", "WOODS.WLD", "s"], ["smallmap="]),
        (["import", "WOODS.WLD", "landtype", "=", ""], ["lt.BMP", "lt.png", "maps"]),  # readline splits at '='
        (["import", "WOODS.WLD", "landtype", "=", "l"], ["lt.BMP", "lt.png"]),
        (["export", "WOODS.WLD", "landtype", "=", ""], ["lt.BMP", "lt.png", "maps"]),  # an export writes PNG too
    ]

    def check_completion(self, script):
        folder = self.path("completion")
        os.makedirs(os.path.join(folder, "maps"))
        for name in ("WOODS.WLD", "lt.BMP", "lt.png", "notes.txt"):
            open(os.path.join(folder, name), "w").close()
        for words, offered in self.COMPLETIONS:
            with self.subTest(words=words):
                words = ["velmarsh"] + words
                code = (f"source {shlex.quote(script)}; COMP_WORDS=({' '.join(map(shlex.quote, words))}); "
                        f"COMP_CWORD={len(words) - 1}; _velmarsh; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
                r = subprocess.run(["bash", "--norc", "--noprofile", "-c", code], cwd=folder,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                self.assertEqual((sorted(r.stdout.split()), r.stderr), (offered, ""))

    def test_help_shows_the_manual_synopsis(self):
        manual = subprocess.run(["groff", "-man", "-Tascii", "-P-c", "-P-b", "-P-u", os.path.join(BUILD_DIR, "velmarsh.1")],
                                stdout=subprocess.PIPE, check=True, text=True).stdout
        synopsis = manual.split("\nSYNOPSIS\n")[1].split("\n\n")[0]
        usage = run_tool([], self.dir, args=["--help"]).out.decode().split("\n\n")[0].replace("Usage:", "")
        self.assertEqual([l.strip() for l in synopsis.splitlines()], [l.strip() for l in usage.splitlines()])

    @unittest.skipIf(shutil.which("dpkg-deb") is None, "needs dpkg-deb")
    def test_debian_package(self):
        out = self.path("package")
        subprocess.run(["cpack", "-G", "DEB", "-B", out, "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
        (deb,) = [os.path.join(out, f) for f in os.listdir(out) if f.endswith("_amd64.deb")]
        self.assertRegex(os.path.basename(deb), r"^velmarsh_\d+\.\d+(~beta\d+)?_amd64\.deb$")
        info = subprocess.run(["dpkg-deb", "--info", deb], stdout=subprocess.PIPE, check=True, text=True).stdout
        self.assertRegex(info, r"Depends: .*libedit2")
        self.assertRegex(info, r"Recommends: .*bash-completion")  # Tab completes nothing without it
        contents = subprocess.run(["dpkg-deb", "--contents", deb], stdout=subprocess.PIPE, check=True, text=True).stdout
        for name in ("./usr/bin/velmarsh", "./usr/share/man/man1/velmarsh.1.gz", "./usr/share/doc/velmarsh/README.md",
                     "./usr/share/doc/velmarsh/copyright", "./usr/share/doc/velmarsh/changelog.gz",
                     "./usr/share/bash-completion/completions/velmarsh"):
            self.assertIn(" " + name + "\n", contents)
        if shutil.which("lintian"):
            # No error or warning; the hardening and stripping tags are
            # information, which -I shows.
            r = subprocess.run(["lintian", "-I", "--fail-on", "error,warning", deb], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
            self.assertEqual(r.returncode, 0, r.stdout)
            self.assertNotRegex(r.stdout, re.compile(r"^\w: velmarsh: (hardening-|binary-has-unneeded-section)", re.M))

    def test_demo_keeps_an_imported_edit(self):
        build = self.path("build")
        os.mkdir(build)
        os.symlink(VELMARSH, os.path.join(build, "velmarsh"))
        os.symlink(WORLDGEN, os.path.join(build, "worldgen"))
        world = os.path.join(build, "demo", "WOODS.WLD")

        def demo(*args):
            subprocess.run(["sh", DEMO, build, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
            return read(world)

        made = demo()
        self.assertTrue(os.path.exists(os.path.join(build, "demo", "largemap.bmp")))
        edited = gen("bmp", os.path.join(build, "demo", "edited.bmp"), width=256, height=192, pattern="noise")
        run_tool(["WOODS.WLD", "c", "c", "n", edited, "c"], os.path.join(build, "demo"))
        imported = read(world)
        self.assertNotEqual(imported, made)
        self.assertEqual(demo(), imported)
        self.assertEqual(demo("--reset"), made)
