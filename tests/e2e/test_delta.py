"""A new package fetched as its changed entries: with the package's entry manifest on the server
and an earlier deploy in the tree, only the changed spans move, the tree ends as a whole download
leaves it, and whatever the manifest cannot vouch for is fetched whole or never deployed. Bytes are
counted by the FTP server itself."""

import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import BIN, PackageTest, message_boxes, read_text  # noqa: E402
from test_exit_codes import signed_files  # noqa: E402

ZIP_TOOL = os.path.join(os.path.dirname(BIN), "talvane-zip")


def forge_crc(data, at, crc):
    """`data` with the four bytes at `at` chosen so that its CRC-32 is `crc`: over inputs of one
    length CRC-32 is affine, so the 32 bits there are solved for over GF(2)."""
    base = data[:at] + bytes(4) + data[at + 4:]
    start = zlib.crc32(base)
    basis = {}  # highest bit of an effect on the CRC -> (that effect, the patch bits causing it)
    for bit in range(32):
        effect = zlib.crc32(base[:at] + (1 << bit).to_bytes(4, "little") + base[at + 4:]) ^ start
        patch = 1 << bit
        while effect and effect.bit_length() in basis:
            effect, patch = effect ^ basis[effect.bit_length()][0], patch ^ basis[effect.bit_length()][1]
        if effect:
            basis[effect.bit_length()] = (effect, patch)
    want, patch = start ^ crc, 0
    while want:
        want, patch = want ^ basis[want.bit_length()][0], patch ^ basis[want.bit_length()][1]
    return data[:at] + patch.to_bytes(4, "little") + data[at + 4:]


class DeltaBase(PackageTest):
    def setUp(self):
        super().setUp()
        rng = random.Random(7)
        self.files = {"big/%03d.bin" % i: rng.randbytes(rng.randrange(10000, 30000)) for i in range(100)}
        self.publish(self.files)
        self.manifest = self.package + ".entries"
        self.addCleanup(lambda: [os.path.exists(p) and os.remove(p)
                                 for p in (self.manifest, self.manifest + ".minisig", self.package + ".minisig")])
        self.whole = self.sfx()  # the first deploy
        self.assertEqual(self.whole, os.path.getsize(self.package))

    def publish(self, files, method=zipfile.ZIP_DEFLATED):
        """The demo package with `files` added, and its manifest."""
        with zipfile.ZipFile(self.original) as src, zipfile.ZipFile(self.package + ".new", "w") as dst:
            for info in src.infolist():
                if info.filename not in files:
                    dst.writestr(info, src.read(info), zipfile.ZIP_DEFLATED)
            for name, data in sorted(files.items()):
                dst.writestr(zipfile.ZipInfo(name, (2026, 12, 1, 8, 0, 0)), data, method)
        os.replace(self.package + ".new", self.package)
        subprocess.run([ZIP_TOOL, "manifest", self.package], check=True, capture_output=True)

    def next_version(self, changed=3, added=1):
        files = dict(self.files)
        for name in sorted(files)[5:5 + changed]:
            files[name] = b"v2" + files[name][2:]
        for i in range(added):
            files["new/%d.txt" % i] = b"added in v2\n" * 50
        return files

    def fetched_bytes(self):
        """What the last run says it fetched of the package as ranges."""
        return int(re.findall(r"fetched (\d+) bytes of tekmoUpdate.zip", self.p.log_text())[-1])

    @staticmethod
    def package_transfer_starts(log):
        """Where each transfer of tekmoUpdate.zip in the server's log began."""
        pending, starts = {}, []
        for session, command, rest in re.findall(r"(\S+)-\[\w*\] (REST|RETR) (\S+)", log):
            if command == "REST":
                pending[session] = int(rest)
            elif rest.endswith("/tekmoUpdate.zip"):
                starts.append(pending.pop(session, 0))
        return starts



class DeltaDownload(DeltaBase):
    def test_only_changed_entries_move_and_the_tree_is_the_new_package(self):
        files = self.next_version()
        changed = [n for n in files if files[n] != self.files.get(n)]
        self.publish(files)
        log_before = len(read_text(self.log))
        self.sfx()
        self.assertLess(self.fetched_bytes(), os.path.getsize(self.package) * 0.1)
        self.assert_tree_is_the_package()
        self.assertIn("Fetching 4 changed files (", self.p.log_text())
        # Each transfer began at a changed entry or at the directory.
        with zipfile.ZipFile(self.package) as z:
            starts = {z.getinfo(n).header_offset for n in changed} | {z.start_dir}
        rests = set(self.package_transfer_starts(read_text(self.log)[log_before:]))
        self.assertIn(z.start_dir, rests)
        self.assertLessEqual(rests, starts)
        self.assertEqual([n for n in os.listdir(self.p.prog) if n.startswith("tekmoUpdate")], [])
        self.assertEqual(self.sfx(), 0, "the deploy after a delta is recorded as the package")

    def test_what_the_manifest_cannot_vouch_for_is_fetched_whole(self):
        def for_another_package():
            # The same size, one entry under another name of the same length.
            other = self.package + ".other"
            with zipfile.ZipFile(self.package) as src, zipfile.ZipFile(other, "w") as dst:
                for info in src.infolist():
                    data = src.read(info)
                    info.filename = info.filename.replace("big/000", "big/999")
                    dst.writestr(info, data)
            subprocess.run([ZIP_TOOL, "manifest", other], check=True, capture_output=True)
            os.replace(other + ".entries", self.manifest)
            os.remove(other)

        # (what is done after the new version is published, the line the log must show)
        cases = [
            ("no manifest", lambda: os.remove(self.manifest), "no tekmoUpdate.zip.entries"),
            ("a damaged manifest", lambda: os.truncate(self.manifest, os.path.getsize(self.manifest) - 10),
             "is damaged"),
            ("a manifest for another package", for_another_package, "made for another package"),
            ("delta downloads switched off", lambda: self.p.add_endpoints("DeltaDownloads=0\n"),
             "DeltaDownloads=0"),
        ]
        for number, (what, spoil, line) in enumerate(cases):
            with self.subTest(what):
                self.files = self.next_version(changed=2 + number, added=0)
                self.publish(self.files)
                spoil()
                # At most the directory moves before the package is fetched whole.
                size = os.path.getsize(self.package)
                extra = self.sfx() - size
                self.assertTrue(0 <= extra < size * 0.05, extra)
                self.assertIn(line, self.p.log_text())
                self.assert_tree_is_the_package()
        with self.subTest("more than half changed"):
            self.p.set_setting("DeltaDownloads", "1")
            self.files = {n: b"v3" + d[2:] for n, d in self.files.items()}
            self.publish(self.files)
            self.assertEqual(self.sfx(), os.path.getsize(self.package))
            self.assertIn("the package is fetched whole", self.p.log_text())

    def test_an_entry_altered_after_its_manifest_was_made_is_never_deployed(self):
        before = {n: open(os.path.join(self.p.tool, n), "rb").read() for n in self.files}
        files = self.next_version(changed=1, added=0)
        name = sorted(files)[5]
        self.publish(files, zipfile.ZIP_STORED)  # stored: its bytes in the package are its content
        # Its data changed in place, its CRC-32 kept: the directory is byte for byte the same.
        with zipfile.ZipFile(self.package) as z:
            info = z.getinfo(name)
        with open(self.package, "r+b") as f:
            f.seek(info.header_offset + 30 + len(name))  # Python writes no local extra field
            f.write(forge_crc(b"EVIL" + files[name][4:], 100, info.CRC))
        result = self.p.run(["sfx"])
        self.assertNotEqual(result.returncode, 0)
        boxes = [text for _, _, text in message_boxes(result.stdout)]
        self.assertIn("Problem extracting tekmo!", boxes[-1])
        self.assertIn("is not the one expected", boxes[-1])
        self.assertLess(self.fetched_bytes(), os.path.getsize(self.package) * 0.1)
        after = {n: open(os.path.join(self.p.tool, n), "rb").read() for n in self.files}
        self.assertEqual(after, before, "nothing of the altered package reached the tree")

    def test_with_a_key_the_manifest_and_the_package_must_be_signed(self):
        keys = tempfile.mkdtemp(prefix="talvane-e2e-key-")
        self.addCleanup(shutil.rmtree, keys, True)
        subprocess.run(["minisign", "-G", "-W", "-p", keys + "/k.pub", "-s", keys + "/k.key"],
                       check=True, capture_output=True)
        self.p.set_setting("PublicKey", pathlib.Path(keys, "k.pub").read_text().splitlines()[1], "Security")

        def sign(paths, when):
            for path in paths:
                subprocess.run(["minisign", "-S", "-s", keys + "/k.key", "-m", path, "-t",
                                "timestamp:%d\tfile:%s" % (when, os.path.basename(path))],
                               check=True, capture_output=True, input=b"")
                self.addCleanup(pathlib.Path(path + ".minisig").unlink, True)
        home = os.path.join(self.content.info["subscriber"]["home"], "Tekmo")
        sign([signed_files(self.content)[f] for f in ("index", "7za")] + [
            os.path.join(home, "Defs", "tekmo_Defs.7z"), os.path.join(home, "ConfigSets", "Office.7z")], 1000)
        signed = [self.package, self.manifest]
        # An older release, manifest and package signed: kept to be served again later.
        self.publish(self.next_version(changed=4))
        sign(signed, 1500)
        older = {p: pathlib.Path(p).read_bytes() for p in signed + [p + ".minisig" for p in signed]}

        self.files = self.next_version()
        self.publish(self.files)
        sign(signed[:1], 2000)
        self.assertEqual(self.sfx(), os.path.getsize(self.package), "an unsigned manifest was used")
        self.assertIn("tekmoUpdate.zip.entries could not be fetched or was refused", self.p.log_text())
        self.assert_tree_is_the_package()
        deployed = {n: pathlib.Path(self.p.tool, n).read_bytes() for n in self.files}

        # The older release again: its manifest was never seen, but its package's signature is
        # older than the deployed one's; nothing of it is deployed.
        for path, data in older.items():
            pathlib.Path(path).write_bytes(data)
        result = self.p.run(["sfx"])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("not used the entry manifest's package tekmoUpdate.zip: the signature is older",
                      self.p.log_text())
        self.assertEqual({n: pathlib.Path(self.p.tool, n).read_bytes() for n in self.files}, deployed)

        self.files = self.next_version(changed=6)
        self.publish(self.files)
        sign(signed, 3000)
        self.sfx()
        self.assertLess(self.fetched_bytes(), os.path.getsize(self.package) * 0.1)
        self.assertIn("signature verified through its entry manifest: tekmoUpdate.zip", self.p.log_text())
        self.assert_tree_is_the_package()


class DeltaFromAServerWithoutRest(DeltaBase):
    """A server that refuses REST cannot send ranges: the new version comes whole."""
    REFUSE = ("REST",)

    def test_the_new_version_comes_whole(self):
        self.publish(self.next_version())
        self.assertEqual(self.sfx(), os.path.getsize(self.package))
        self.assertIn("tekmoUpdate.zip is fetched whole: its directory could not be fetched", self.p.log_text())
        self.assert_tree_is_the_package()
