"""A package download killed half-way is continued by the next run, unless its file on the server
changed; the tree ends as a fresh deploy leaves it. The server, held to a rate, counts the bytes."""

import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest  # noqa: E402
from test_exit_codes import public_key, signed_files  # noqa: E402

SIZE = 768 << 10


class Cut(PackageTest):
    RATE = 256 << 10

    def new_package(self, size=SIZE, data=None, alter=lambda info, data: data):
        self.data = data or os.urandom(size)
        self.repack(alter, {"data.bin": self.data})

    def kill_when_half(self, run, part, whole):
        """Kills `run` once `part` holds half of the file `whole`."""
        half = os.path.getsize(whole) // 2
        self.assertTrue(self.p.wait_for(lambda: os.path.exists(part) and os.path.getsize(part) >= half
                                        or run.poll() is not None), "no part reached half the package")
        run.kill()
        run.wait()
        self.assertTrue(os.path.exists(part + ".info"))

    def kill_half_way(self):
        """A run killed once half the package is in its part: what the server sent for it."""
        self.part = os.path.join(self.p.prog, "tekmoUpdate.zip.partial")
        before = self.package_bytes()
        self.kill_when_half(self.p.start(["sfx"]), self.part, self.package)
        self.assertFalse(os.path.exists(os.path.join(self.p.prog, "tekmoUpdate.zip")))
        self.assertTrue(self.p.wait_for(lambda: self.package_bytes() > before), "the server logged no transfer")
        return self.package_bytes() - before

    def assert_no_package_files(self):
        self.assertEqual([n for n in os.listdir(self.p.prog) if n.startswith(("tekmoUpdate", "Tekmo"))], [])


class Resume(Cut):
    def test_a_killed_download_is_continued_unless_the_file_changed(self):
        # (what, the package put on the server after the kill (None: none), its time after the
        # old one's, the log's words)
        cases = [("unchanged", None, 0, "resuming tekmoUpdate.zip at {kept} of {size} bytes"),
                 ("same size, new time", SIZE, 120, "afresh: the file on the server has a new time"),
                 ("new size, same time", SIZE + 1000, 0, "afresh: the file on the server changed size")]
        for what, size, later, said in cases:
            with self.subTest(what):
                self.new_package()
                first, kept = self.kill_half_way(), os.path.getsize(self.part)
                if size:
                    stamp = os.path.getmtime(self.package) + later
                    self.new_package(size)
                    os.utime(self.package, (stamp, stamp))
                second, size = self.sfx(), os.path.getsize(self.package)
                self.assertIn(said.format(kept=kept, size=size), self.p.log_text())
                resumed = what == "unchanged"
                self.assertEqual(second, size - kept if resumed else size)
                self.assertLess(first + second, (1.4 if resumed else 2) * size)
                self.assert_tree_is_the_package()
                self.assert_no_package_files()

    def test_a_splice_of_two_packages_is_never_deployed(self):
        """Same size, same second, other bytes in an entry the part already holds: that entry
        passes its own local header, not the directory, and the package is fetched whole."""
        self.new_package()
        first, kept = self.kill_half_way(), os.path.getsize(self.part)
        stamp, size = os.path.getmtime(self.package), os.path.getsize(self.package)
        with zipfile.ZipFile(self.package) as z:
            name = next(i.filename for i in z.infolist() if i.file_size > 0 and i.filename != "Tekmo")
        self.new_package(data=self.data,
                         alter=lambda info, d: bytes([d[0] ^ 1]) + d[1:] if info.filename == name else d)
        os.utime(self.package, (stamp, stamp))
        self.assertEqual(os.path.getsize(self.package), size)
        self.assertEqual(self.sfx(), size - kept + size)
        self.assertIn("was continued from a part and does not unpack; fetching it whole", self.p.log_text())
        self.assert_tree_is_the_package()
        self.assertEqual(self.sfx(), 0, "the whole package is recorded")

    def test_each_earlier_version_continues_only_its_own_part(self):
        """Two versions of equal size and server time: a part of the first is not taken for the second."""
        redist = os.path.dirname(self.package)
        stamp, data = os.path.getmtime(self.package), {}
        for version in ("3.0.1", "3.1.0"):
            self.new_package()
            data[version] = self.data
            path = os.path.join(redist, "Tekmo_%s.zip" % version)
            os.replace(self.package, path)
            os.utime(path, (stamp, stamp))
            self.addCleanup(os.remove, path)
        shutil.copy2(self.original, self.package)

        run_previous = "select Office\nversion Tekmo_%s.zip\nrun-previous\n"
        first = subprocess.Popen([self.p.exe], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=self.p.environment(), cwd=self.p.root)
        first.stdin.write((run_previous % "3.0.1").encode())
        first.stdin.flush()
        part = os.path.join(self.p.prog, "Tekmo_3.0.1.zip.partial")
        self.kill_when_half(first, part, os.path.join(redist, "Tekmo_3.0.1.zip"))
        first.stdin.close()

        second = self.p.run([], run_previous % "3.1.0")
        self.assertEqual(second.returncode, 0, second.stdout + second.stderr)
        with open(os.path.join(self.p.tool, "data.bin"), "rb") as f:
            self.assertTrue(f.read() == data["3.1.0"], "the part of another version was continued")
        self.assert_no_package_files()


class Streamed(Cut):
    """A package of some megabytes is unpacked while it arrives, beside the tree."""
    RATE = 1 << 20  # pyftpdlib sends a second's worth at once, then waits: seconds to spare

    def test_a_package_unpacked_as_it_arrives_reaches_the_tree_only_whole_and_verified(self):
        streamed = "unpacked tekmoUpdate.zip while it arrived"
        self.new_package(5 << 20)
        self.assertLess(self.sfx(), os.path.getsize(self.package) + (80 << 10))
        self.assertIn(streamed, self.p.log_text())
        self.assert_tree_is_the_package()
        old = self.data

        self.new_package(5 << 20)  # killed half-way: the tree is the old one, the part continued
        first, kept = self.kill_half_way(), os.path.getsize(self.part)
        with open(os.path.join(self.p.tool, "data.bin"), "rb") as f:
            self.assertTrue(f.read() == old, "a killed run changed the tree")
        second, size = self.sfx(), os.path.getsize(self.package)
        self.assertIn("resuming tekmoUpdate.zip at %d of %d bytes" % (kept, size), self.p.log_text())
        self.assertLess(first + second, size + (400 << 10))
        self.assertEqual(self.p.log_text().count(streamed), 2)
        self.assert_tree_is_the_package()

        self.p.set_setting("PublicKey", public_key(signed_files(self.content).values()), "Security")
        self.new_package(5 << 20)  # its signature is the one before
        run = self.p.run(["sfx"])
        self.assertNotEqual(run.returncode, 0)
        self.assertEqual(self.p.log_text().count(streamed), 3, "not unpacked as it arrived")
        with open(os.path.join(self.p.tool, "data.bin"), "rb") as f:
            self.assertFalse(f.read() == self.data, "a package with a bad signature reached the tree")


class StreamedWithoutRest(Cut):
    RATE, REFUSE = 0, ("REST",)

    def test_a_server_that_refuses_rest_sends_the_package_once_and_it_is_unpacked_whole(self):
        self.new_package(6 << 20)
        self.assertEqual(self.sfx(), os.path.getsize(self.package))
        self.assertIn("could not be fetched first; it is unpacked whole", self.p.log_text())
        self.assert_tree_is_the_package()


class Busy(Cut):
    def test_a_busy_server_is_waited_for_and_the_part_continued(self):
        self.new_package()
        self.kill_half_way()
        kept = os.path.getsize(self.part)
        open(self.busy, "w").close()
        run = self.p.start(["sfx"])
        self.assertTrue(self.p.wait_for(lambda: "(attempt 3, next in" in self.p.log_text()), self.p.log_text())
        os.remove(self.busy)
        before = self.package_bytes()
        self.assertEqual(run.wait(timeout=60), 0)
        self.assertEqual(self.package_bytes() - before, os.path.getsize(self.package) - kept)
        self.assert_tree_is_the_package()
        # Past BusyRetrySeconds the box says busy; the window handed over then does not wait.
        shutil.rmtree(self.p.tool)
        open(self.busy, "w").close()
        self.p.add_endpoints("BusyRetrySeconds=3\n")
        result = self.p.run(["sfx"])
        self.assertEqual(result.returncode, 1)
        self.assertIn("The server was busy: 421 Too many connections", result.stdout)
        run_log = self.p.log_text().split("Starting Talvane")[-1]
        self.assertIn("Waiting for the download server (attempt 2", run_log)
        self.assertNotIn("Waiting", run_log.split("showing the main window")[-1])


class RestRefused(Cut):
    REFUSE = ("REST",)

    def test_a_server_refusing_rest_gets_the_file_from_the_start_in_the_same_run(self):
        self.new_package()
        self.kill_half_way()
        self.assertEqual(self.sfx(), os.path.getsize(self.package))
        self.assertIn("(REST refused); fetching it whole", self.p.log_text())
        self.assert_tree_is_the_package()
        self.assert_no_package_files()
