"""A second Download && Run against an unchanged server downloads nothing; whatever changed on
the server or in the tool tree is fetched and rewritten, so the tree always ends as a fresh
deploy leaves it. Bytes are counted by the FTP server itself."""

import os
import re
import shutil
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import Cloud, CloudTest, Program  # noqa: E402


class SkipUnchanged(CloudTest):
    def setUp(self):
        self.log = tempfile.mktemp(prefix="talvane-ftp-log-")
        self.addCleanup(lambda: os.path.exists(self.log) and os.remove(self.log))
        self.cloud = Cloud(self.content.info, log=self.log)
        self.addCleanup(self.cloud.stop)
        sub = self.content.info["subscriber"]
        self.p = Program(self.cloud, default_config="Office",
                         credentials=(sub["user"], sub["password"], sub["zip_password"]))
        self.addCleanup(shutil.rmtree, self.p.root, True)
        self.package = os.path.join(self.content.info["redist"], "Redist", "tekmoUpdate.zip")
        self.original = self.package + ".kept"
        shutil.copy2(self.package, self.original)
        self.addCleanup(os.replace, self.original, self.package)
        self.repack(self.original, lambda info, data: data)  # stored: a changed byte keeps the size

    def sfx(self):
        """One unattended run: the package bytes the server sent for it."""
        before = self.package_bytes()
        result = self.p.run(["sfx"])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return self.package_bytes() - before

    def package_bytes(self):
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return sum(int(n) for n in re.findall(r"RETR \S*tekmoUpdate\.zip completed=1 bytes=(\d+)", f.read()))

    def assert_tree_is_the_package(self):
        with zipfile.ZipFile(self.package) as z:
            for info in z.infolist():
                if not info.is_dir():
                    with open(os.path.join(self.p.tool, info.filename), "rb") as f:
                        self.assertEqual(f.read(), z.read(info), info.filename)

    def test_unchanged_runs_skip_and_every_change_is_undone(self):
        size = os.path.getsize(self.package)
        self.assertEqual(self.sfx(), size)
        self.assertEqual(self.sfx(), 0, "an unchanged package is fetched again")
        self.assertIn("skipped the download", self.p.log_text())

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

        with open(self.p.ini, encoding="latin-1") as f:
            ini = f.read().replace("[Endpoints]\n", "[Endpoints]\nSkipUnchanged=0\n")
        with open(self.p.ini, "w", encoding="latin-1") as f:
            f.write(ini)
        self.assertEqual(self.sfx(), size)

    def rewrite(self, path):
        with open(path, "r+b") as f:
            first = f.read(1)
            f.seek(0)
            f.write(bytes([first[0] ^ 1]))

    def repack(self, source, alter):
        with zipfile.ZipFile(source) as src, zipfile.ZipFile(self.package + ".new", "w") as dst:
            for info in src.infolist():
                data = alter(info, src.read(info))
                info.compress_type = zipfile.ZIP_STORED
                dst.writestr(info, data)
        os.replace(self.package + ".new", self.package)

    def change_package(self, name):
        """One byte of `name` changed: the same size, a later time."""
        size = os.path.getsize(self.package)
        self.repack(self.original, lambda info, data: bytes([data[0] ^ 1]) + data[1:]
                    if info.filename == name else data)
        stamp = os.path.getmtime(self.package) + 120
        os.utime(self.package, (stamp, stamp))
        self.assertEqual(os.path.getsize(self.package), size)


if __name__ == "__main__":
    unittest.main()
