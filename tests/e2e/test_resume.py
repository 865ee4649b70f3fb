"""A package download killed half-way is continued by the next run, which leaves the tree a fresh
deploy leaves; a part whose file on the server changed meanwhile is dropped. Bytes are counted by
the FTP server itself, which sends at a held rate so that the kill lands half-way."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest  # noqa: E402

SIZE = 768 << 10


class Resume(PackageTest):
    RATE = 256 << 10

    def setUp(self):
        super().setUp()
        self.part = os.path.join(self.p.prog, "tekmoUpdate.zip.partial")

    def new_package(self, size=SIZE):
        self.repack(lambda info, data: data, {"data.bin": os.urandom(size)})

    def kill_half_way(self):
        """A run killed once half the package is in its part: what the server sent for it."""
        before, half = self.package_bytes(), os.path.getsize(self.package) // 2
        run = self.p.start(["sfx"])
        self.assertTrue(self.p.wait_for(lambda: os.path.exists(self.part) and os.path.getsize(self.part) >= half
                                        or run.poll() is not None), "no part reached half the package")
        run.kill()
        run.wait()
        self.assertTrue(os.path.exists(self.part + ".info"))
        self.assertFalse(os.path.exists(os.path.join(self.p.prog, "tekmoUpdate.zip")))
        self.assertTrue(self.p.wait_for(lambda: self.package_bytes() > before), "the server logged no transfer")
        return self.package_bytes() - before

    def assert_deployed(self):
        self.assert_tree_is_the_package()
        self.assertEqual([n for n in os.listdir(self.p.prog) if n.startswith("tekmoUpdate")], [])

    def test_killed_download_resumes(self):
        self.new_package()
        size = os.path.getsize(self.package)
        first = self.kill_half_way()
        kept = os.path.getsize(self.part)
        second = self.sfx()
        self.assertIn("resuming tekmoUpdate.zip at %d of %d bytes" % (kept, size), self.p.log_text())
        self.assert_deployed()
        self.assertLess(first + second, 1.4 * size, (first, second))

    def test_part_of_a_changed_file_is_dropped(self):
        # (what, the new package's size, its time after the old one's, the reason logged)
        cases = [("same size, new time", SIZE, 120, "has a new time"),
                 ("new size, same time", SIZE + 1000, 0, "changed size")]
        for what, size, later, why in cases:
            with self.subTest(what):
                self.new_package()
                self.kill_half_way()
                stamp = os.path.getmtime(self.package) + later
                self.new_package(size)
                os.utime(self.package, (stamp, stamp))
                self.assertEqual(self.sfx(), os.path.getsize(self.package))
                self.assertIn("starting tekmoUpdate.zip afresh: the file on the server " + why, self.p.log_text())
                self.assert_deployed()


if __name__ == "__main__":
    unittest.main()
