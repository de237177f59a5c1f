"""The dialogs at a real terminal (tmux): editing, completion, one-key answers,
cancelling, and the terminal's mode afterwards."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import VELMARSH, ToolTest, write

# What the shell does once the run has ended: the exit code and the terminal's
# mode, each written under a temporary name and then renamed, so that a file
# the test finds is complete (the shell creates a redirected file before the
# command has written to it). after.txt comes last: once it is there, so is rc.txt.
FINISH = ("echo $? > rc.txt.tmp; stty -g > after.txt.tmp; "
          "mv rc.txt.tmp rc.txt; mv after.txt.tmp after.txt")


@unittest.skipIf(shutil.which("tmux") is None, "needs tmux")
class Terminal(ToolTest):
    def setUp(self):
        super().setUp()
        # The servers' sockets live here, not in tmux's shared folder, so that
        # none outlives the test (tmux leaves a killed server's socket behind).
        self._sockets = tempfile.TemporaryDirectory(prefix="velmarsh-tmux-")
        self.sockets = []

    def tearDown(self):
        self.stop()
        self._sockets.cleanup()
        super().tearDown()

    def stop(self):
        for socket in self.sockets:
            subprocess.run(["tmux", "-S", socket, "kill-server"], stderr=subprocess.DEVNULL)
        self.sockets.clear()

    def start(self, env="", job_control=False):
        # A server of its own for every start: a killed server's socket may linger.
        self.stop()
        self.sockets.append(os.path.join(self._sockets.name, str(time.monotonic_ns())))
        self.socket = ["tmux", "-S", self.sockets[-1]]
        # The shell keeps going after a Ctrl-C so that it can read the mode back.
        script = f"cd '{self.dir}'; trap : INT; stty -g > before.txt; {env} '{VELMARSH}'; {FINISH}"
        if job_control:
            # An interactive shell to stop and continue the run in; the run is
            # a job of its own, and the checks come after it as a command.
            shell = "bash --norc --noprofile -i"
            subprocess.run(self.socket + ["new-session", "-d", "-s", "t", "-x", "150", "-y", "60", shell], check=True)
            self.keys(f"cd '{self.dir}'; stty -g > before.txt; {env} '{VELMARSH}'", "Enter")
        else:
            subprocess.run(self.socket + ["new-session", "-d", "-s", "t", "-x", "150", "-y", "60",
                                          script + "; sleep 600"], check=True)
        self.wait_for("File name:")

    def keys(self, *keys):
        subprocess.run(self.socket + ["send-keys", "-t", "t", *keys], check=True)
        time.sleep(0.15)

    def screen(self, escapes=False):
        args = ["capture-pane", "-p", "-t", "t", "-S", "-200"] + (["-e"] if escapes else [])
        return subprocess.run(self.socket + args, stdout=subprocess.PIPE, text=True).stdout

    def wait_for(self, text, timeout=10, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.screen().count(text) >= count:
                return
            time.sleep(0.05)
        self.fail(f"{text!r} never appeared:\n{self.screen()}")

    def finished(self):
        deadline = time.time() + 30
        while not os.path.exists(self.path("after.txt")):
            if time.time() > deadline:
                self.fail(f"the run never finished:\n{self.screen()}")
            time.sleep(0.05)
        with open(self.path("rc.txt")) as f:
            rc = int(f.read())
        with open(self.path("before.txt")) as a, open(self.path("after.txt")) as b:
            self.assertEqual(a.read(), b.read(), "the terminal's mode was not restored")
        return rc

    def test_tab_completes_and_lists(self):
        os.makedirs(self.path("maps/WOLF"))
        self.world("maps/WOODS.WLD", width=6, height=4)
        self.world("maps/WORLD2.WLD", width=6, height=4)
        self.world("maps/WOODS.txt", width=6, height=4)  # not a *.WLD: never offered
        self.bitmap("maps/smallmap.bmp", width=6, height=4)
        self.start()
        self.keys("ma", "Tab")
        self.wait_for("File name: maps/")
        self.keys("W", "Tab")  # completes the part the names share...
        self.wait_for("File name: maps/WO")
        self.keys("Tab")       # ...and the next Tab lists them
        self.wait_for("WOLF/  WOODS.WLD  WORLD2.WLD\n")
        self.keys("O", "Tab", "Enter")
        self.wait_for(f"Loading {self.path('maps/WOODS.WLD')}...")
        # The next dialog starts beside the world, and completes there.
        self.keys("n")
        self.wait_for(f"In {self.path('maps')}\nFile name:")
        self.keys("s", "Tab", "Enter")
        self.wait_for(f"Importing {self.path('maps/smallmap.bmp')}...Done!")
        self.keys("c", "c", "c")
        self.assertEqual(self.finished(), 0)

    def test_stop_and_continue_keeps_the_key_mode(self):
        self.world(width=6, height=4)
        self.start(job_control=True)
        self.keys("WOODS.WLD", "Enter")
        for stops, (prompt, answer) in enumerate((("(default Yes):", "y"), ("File name: smallmap.bmp", "Enter")), 1):
            self.wait_for(prompt)
            self.keys("C-z")
            self.wait_for("Stopped", count=stops)
            self.keys("fg", "Enter")
            self.wait_for(prompt, count=2)  # drawn again after the continue
            self.keys(answer)  # the question takes its one key again, without Enter
        self.wait_for(f"Writing {self.path('smallmap.bmp')}...Done!")
        self.keys("c", "c", "c")
        self.wait_for("(default Yes): Cancel", count=3)
        self.keys(FINISH, "Enter")
        self.assertEqual(self.finished(), 0)

    def test_proposed_name_accepted_or_edited(self):
        self.world(width=6, height=4)
        write(self.path("smallmap.bmp"), b"old")
        self.start()
        self.keys("WOODS.WLD", "Enter")
        self.wait_for("(default Yes)")
        self.keys("y")
        self.wait_for("File name: smallmap.bmp")
        replace = "smallmap.bmp already exists. Replace it? [y/N]:"
        self.keys("Enter")
        self.wait_for(replace)
        self.keys("n")  # asked for the name again...
        self.wait_for(replace + " No\nFile name: smallmap.bmp")
        self.keys("Enter")
        self.wait_for(replace, count=2)
        self.keys("y")  # ...and replaced
        self.wait_for(f"Writing {self.path('smallmap.bmp')}...Done!")
        self.keys("y")
        self.wait_for("File name: landtype.bmp")
        self.keys("C-u", "mine", "Enter")
        self.wait_for(f"Writing BMP header to {self.path('mine.bmp')}...Done!")
        self.keys("y")
        self.wait_for("File name: lmheight.bmp")
        self.keys("Up")  # the run's earlier paths come back
        self.wait_for(f"File name: {self.path('mine.bmp')}")
        self.keys("Down")
        self.wait_for("File name: lmheight.bmp")
        self.keys("BSpace", "BSpace", "BSpace", "BSpace", "Left", "X", "Home", "Right", "C-a", "my-", "End", ".bmp", "Enter")
        self.wait_for(f"Writing BMP header to {self.path('my-lmheighXt.bmp')}...Done!")
        self.keys("c")
        self.wait_for("Reading and writing LM data...Done!")
        self.assertEqual(self.finished(), 0)
        self.assertEqual(os.path.getsize(self.path("mine.bmp")), 1078 + 8 * 4)

    def test_one_key_answers_and_cancelling(self):
        self.world(width=6, height=4)
        self.start()
        self.keys("WOODS.WLD", "Enter")
        self.wait_for("(default Yes)")
        self.keys("n")   # SmallMap: import...
        self.wait_for("Import SmallMap BMP")
        self.keys("Escape")  # ...but Esc closes the dialog
        self.wait_for("Export LandType BMP")
        self.keys("Enter")   # the default button: Yes
        self.wait_for("File name: landtype.bmp")
        self.keys("C-d")     # Ctrl-D closes the dialog too
        self.wait_for("Export LandHeight BMP")
        self.keys("x", "C")  # not an answer, then Cancel
        self.wait_for("Export LargeMap BMP")
        self.keys("Escape")
        self.assertEqual(self.finished(), 0)
        screen = self.screen()
        for word in ("): No", "): Yes", "): Cancel"):
            self.assertIn(word, screen)
        self.assertNotIn("Writing", screen)
        self.assertNotIn("Reading", screen)
        self.assertEqual(sorted(os.listdir(self.dir)), ["WOODS.WLD", "after.txt", "before.txt", "rc.txt"])

    def test_ctrl_c_restores_the_terminal(self):
        self.world(width=6, height=4)
        for where in ("box", "line"):
            with self.subTest(where=where):
                for f in ("after.txt", "rc.txt"):
                    if os.path.exists(self.path(f)):
                        os.remove(self.path(f))
                self.start()
                self.keys("WOODS.WLD", "Enter")
                self.wait_for("(default Yes)")
                if where == "line":
                    self.keys("y")
                    self.wait_for("File name: smallmap.bmp")
                self.keys("C-c")
                self.assertEqual(self.finished(), 130)

    def test_colour_only_without_no_color(self):
        self.world(width=6, height=4)
        self.start()
        self.assertIn("\x1b[", self.screen(escapes=True))
        self.start(env="NO_COLOR=1")
        self.assertNotIn("\x1b[1", self.screen(escapes=True))
