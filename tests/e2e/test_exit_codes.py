"""The exit codes of the unattended run, one real `Talvane sfx` per row: what a
calling script (the self-extractor, a login script, a scheduled task) reads."""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import CloudTest, message_boxes, require, scramble  # noqa: E402

DEAD = "127.0.0.1:1"  # nothing listens there


def public_key(sign=()):
    """A fresh key pair; `sign` files get a signature by it. The public key."""
    with tempfile.TemporaryDirectory(prefix="talvane-e2e-key-") as folder:
        subprocess.run(["minisign", "-G", "-W", "-p", folder + "/k.pub", "-s", folder + "/k.key"],
                       check=True, capture_output=True)
        for path in sign:
            subprocess.run(["minisign", "-S", "-s", folder + "/k.key", "-m", path], check=True,
                           capture_output=True, input=b"")
        return pathlib.Path(folder, "k.pub").read_text("ascii").splitlines()[1]


def signed_files(content):
    """The cloud's files a key can sign: the updates index, the package, 7za.zip."""
    return {"index": os.path.join(content.info["web"], "VelmoraUpdates.zip"),
            "package": os.path.join(content.info["redist"], "Redist", "tekmoUpdate.zip"),
            "7za": os.path.join(content.info["repo"], "7za.zip")}


def remove_signatures(content):
    for path in signed_files(content).values():
        pathlib.Path(path + ".minisig").unlink(missing_ok=True)


def trust_key_signing(*which):
    """Arranges a row: a new key that signed only `which`; the others carry no signature."""
    def arrange(p):
        remove_signatures(p.content)
        files = signed_files(p.content)
        p.set_setting("PublicKey", public_key([files[w] for w in which]), "Security")
    return arrange


def tool_tree_blocks_a_folder(p):
    os.makedirs(p.tool)
    with open(os.path.join(p.tool, "Config"), "w") as f:
        f.write("a file where the package has a folder\n")


def package_without_the_tool(p):
    # The host is down; a package left by an earlier run is used, and it holds no Tekmo.
    p.set_setting("RedistHost", DEAD)
    with zipfile.ZipFile(os.path.join(p.prog, "tekmoUpdate.zip"), "w") as z:
        z.writestr("readme.txt", "no tool in here\n")


def tree(root):
    """Every path below root with its mode and contents."""
    paths = [os.path.join(folder, n) for folder, dirs, files in os.walk(root) for n in dirs + files]
    return {os.path.relpath(path, root): (os.lstat(path).st_mode, pathlib.Path(path).read_bytes()
                                          if os.path.isfile(path) else None) for path in paths}


def settings_too_large(p):
    # A file over the size that is read; without it the launcher would fall back to
    # its compiled-in endpoints and no public key.
    with open(p.ini, "a", encoding="latin-1") as f:
        f.write(";" + "x" * (1 << 20) + "\n")


def no_seven_zip(p):
    # No 7-Zip on the search path, and none can be unpacked beside the program.
    p.env["PATH"] = "/nonexistent"
    with open(os.path.join(p.prog, "7z"), "w") as f:
        f.write("a file where the 7-Zip folder goes\n")


class ExitCodes(CloudTest):
    def test_help_lists_the_codes_and_starts_nothing(self):
        p = self.program(stored=False)
        result = p.run(["--help"])
        self.assertEqual(result.returncode, 0)
        for code in ("0  done", "1  Tekmo was not started", "2  Tekmo was started"):
            self.assertIn(code, result.stdout)
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.ini"])

    def test_a_full_disk_changes_nothing_in_the_tool_tree(self):
        p = self.program(default_config="Office")
        require(self, os.geteuid() == 0, "mounting a small file system needs root")
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", p.drive],
                                 capture_output=True, text=True)
        require(self, mounted.returncode == 0, "tmpfs could not be mounted: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", p.drive])
        self.assertEqual(p.run(["sfx"]).returncode, 0)
        self.assertEqual(len(p.started_lines()), 1)
        # Yesterday's tool: every file the package brings differs from it.
        for name in ("Tekmo.version", "Config/Package.ini", "Modules/Core/core.txt", "Docs/readme.txt"):
            pathlib.Path(p.tool, name).write_text("older\n")
        os.remove(os.path.join(p.tool, "Talvane.deployed"))  # no record: the whole package is written
        # Fill the disk but for three pages: the first parts fit, the rest do not.
        st = os.statvfs(p.drive)
        with open(os.path.join(p.drive, "filler"), "wb") as f:
            f.write(b"\0" * max(0, st.f_bavail * st.f_frsize - 3 * 4096 - 1024))
        before = tree(p.tool)
        result = p.run(["sfx"])
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        texts = [text for _, _, text in message_boxes(result.stdout)]
        self.assertTrue(any(t.startswith("Problem extracting tekmo!") for t in texts), texts)
        self.assertEqual(tree(p.tool), before)
        self.assertEqual(len(p.started_lines(1)), 1, "the tool was not started again")

    def test_each_row_of_the_table(self):
        self.addCleanup(remove_signatures, self.content)
        rows = [
            # (what happened, arrange, exit code, tool started, a message that says so)
            ("deployed and started", None, 0, True, None),
            ("configuration failed twice",
             lambda p: p.set_setting("ZipPassword", scramble("not-the-zip-password"), "TekmoCloud"), 2, True,
             "Failed two attempts to download/extract config!"),
            ("package missing on the server (the repository has no /Redist)",
             lambda p: p.set_setting("RedistHost", p.content.endpoints["repository"]), 1, False,
             "Problem downloading tekmo!"),
            ("package refused", lambda p: (p.set_setting("UpdatesURL", ""),
                                           trust_key_signing("7za")(p)),
             1, False, "The file tekmoUpdate.zip was refused"),
            ("updates index refused", trust_key_signing("package", "7za"),
             1, False, "The file VelmoraUpdates.zip was refused"),
            ("7-Zip refused", trust_key_signing("index", "package"),
             2, True, "The file 7za.zip was refused"),
            ("definitions refused", trust_key_signing("index", "package", "7za"),
             2, True, "The file tekmo_Defs.7z was refused"),
            ("extraction failed", tool_tree_blocks_a_folder, 1, False, "Problem extracting tekmo!"),
            ("tool cannot start", package_without_the_tool, 1, False, "Tekmo could not be started"),
            ("7-Zip unobtainable", no_seven_zip, 2, True, "The 7-Zip program could not be obtained"),
            ("updates index unreachable",
             lambda p: p.set_setting("UpdatesURL", "http://%s/VelmoraUpdates.zip" % DEAD), 1, False,
             "Download aborted."),
            ("redistribution host unreachable, no package",
             lambda p: p.set_setting("RedistHost", DEAD), 1, False, None),
            ("settings file unreadable", settings_too_large, 1, False,
             "cannot be read: it holds"),
            # The window handed to the user and closed without a start; its status line says why.
            ("repository unreachable", lambda p: p.set_setting("RepositoryHost", DEAD), 1, False,
             "Could not sign in to " + DEAD),
            ("TLS required, the server has none", lambda p: p.set_setting("FtpTls", "required"),
             1, False, "does not take AUTH TLS"),
            ("stored set no longer listed", lambda p: p.set_setting("DefaultConfig", "Gone", "TekmoCloud"),
             1, False, '"Gone" is not on the server'),
            ("%prompt%", lambda p: p.set_setting("DefaultConfig", "%prompt%", "TekmoCloud"), 1, False, None),
            ("update offered, not taken", lambda p: (
                self.content.set_index("9.9.9", self.content.endpoints["http"] + "/Talvane.zip"),
                self.addCleanup(self.content.set_index, self.content.info["program_version"])),
             1, False, None),
        ]
        for name, arrange, code, started, message in rows:
            with self.subTest(name):
                p = self.program(default_config="Office")
                p.set_setting("BusyRetrySeconds", "0")  # a dead host is not waited for here
                if arrange:
                    arrange(p)
                result = p.run(["sfx"])
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertEqual(bool(p.started_lines(2 if started else 0.5)), started)
                if message:
                    texts = [text for _, _, text in message_boxes(result.stdout)]
                    texts += re.findall(r"^Status: (.*)$", result.stdout, re.M)
                    self.assertTrue(any(message in t for t in texts), texts)
                if arrange is settings_too_large:  # nothing was fetched
                    self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.ini"])
                # Whatever failed, nothing fetched is left beside the program.
                extra = set(os.listdir(p.prog)) - {"Talvane", "Talvane.ini", "Talvane.signatures", "7z"}
                self.assertEqual(extra, set())
