"""A second Download && Run against an unchanged server downloads nothing; whatever changed on
the server or in the tool tree is fetched and rewritten, so the tree always ends as a fresh
deploy leaves it. Bytes are counted by the FTP server itself."""

import os
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest  # noqa: E402


class SkipUnchanged(PackageTest):
    def setUp(self):
        super().setUp()
        self.repack(lambda info, data: data)  # stored: a changed byte keeps the size

    def test_unchanged_runs_skip_and_every_change_is_undone(self):
        size = os.path.getsize(self.package)
        self.assertEqual(self.sfx(), size)
        for leftover in ("tekmoUpdate.zip.partial", "tekmoUpdate.zip.partial.info"):  # of no use now
            open(os.path.join(self.p.prog, leftover), "w").close()
        self.assertEqual(self.sfx(), 0, "an unchanged package is fetched again")
        self.assertIn("skipped the download", self.p.log_text())
        self.assertEqual([n for n in os.listdir(self.p.prog) if n.startswith("tekmoUpdate")], [])

        with zipfile.ZipFile(self.package) as z:
            files = [i.filename for i in z.infolist() if not i.is_dir() and i.file_size > 2 and i.filename != "Tekmo"]
        changed, deleted = files[0], files[1]
        stray = os.path.join(self.p.tool, "stray.txt")
        # (what is done to the tree or the server, the bytes the next run fetches)
        cases = [
            ("a file rewritten", lambda: self.rewrite(os.path.join(self.p.tool, changed)), size),
            ("a file deleted", lambda: os.remove(os.path.join(self.p.tool, deleted)), size),
            ("a stray file only", lambda: open(stray, "w").close(), 0),
            ("the package changed, same size", lambda: self.change_package(changed), size),
        ]
        for what, change, fetched in cases:
            with self.subTest(what):
                change()
                self.assertEqual(self.sfx(), fetched)
                self.assert_tree_is_the_package()
        self.assertTrue(os.path.exists(stray), "a file the package does not hold is left")
        self.assertEqual(len(self.p.started_lines()), 2 + len(cases))

        self.p.add_endpoints("SkipUnchanged=0\n")
        self.assertEqual(self.sfx(), size)

    def test_files_the_configuration_set_replaces_are_not_taken_for_damage(self):
        self.repack(lambda info, data: data, {"Config/Tekmo.ini": b"[Tekmo]\nfrom=package\n"})
        self.assertEqual(self.sfx(), os.path.getsize(self.package))
        fresh = self.tree()
        self.assertNotIn(b"from=package", fresh["Config/Tekmo.ini"], "the set's file is deployed")
        self.assertEqual(self.sfx(), 0, "a file the set replaced made the package come again")
        self.assertIn("skipped the download", self.p.log_text())
        self.assertEqual(self.tree(), fresh)

    def tree(self):
        files = {}
        for folder, _, names in os.walk(self.p.tool):
            for name in names:
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, self.p.tool)] = f.read()
        return files

    def rewrite(self, path):
        with open(path, "r+b") as f:
            first = f.read(1)
            f.seek(0)
            f.write(bytes([first[0] ^ 1]))

    def change_package(self, name):
        """One byte of `name` changed: the same size, a later time."""
        size = os.path.getsize(self.package)
        self.repack(lambda info, data: bytes([data[0] ^ 1]) + data[1:]
                    if info.filename == name else data)
        stamp = os.path.getmtime(self.package) + 120
        os.utime(self.package, (stamp, stamp))
        self.assertEqual(os.path.getsize(self.package), size)
