"""A package download killed half-way is continued by the next run, unless its file on the server
changed; the tree ends as a fresh deploy leaves it. The server, held to a rate, counts the bytes."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest  # noqa: E402

SIZE = 768 << 10


class Resume(PackageTest):
    RATE = 256 << 10

    def new_package(self, size=SIZE):
        self.repack(lambda info, data: data, {"data.bin": os.urandom(size)})

    def kill_half_way(self):
        """A run killed once half the package is in its part: what the server sent for it."""
        self.part = os.path.join(self.p.prog, "tekmoUpdate.zip.partial")
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
                self.assertEqual([n for n in os.listdir(self.p.prog) if n.startswith("tekmoUpdate")], [])


if __name__ == "__main__":
    unittest.main()
