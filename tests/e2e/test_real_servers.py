"""The real launcher against Debian's vsftpd (Unix LIST, no MLSD) and ProFTPD (MLSD, and a
variant that refuses it) beside pyftpdlib, started by tools/cloud/real_ftpd.py. The package and
a configuration set are published as links, a common way to name "latest"; one set has a
non-ASCII name."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import Cloud, CloudTest, message_boxes, read_text, require  # noqa: E402

PROFTPD_FULL = "530 Sorry, the maximum number of connections (1) for your host are already connected."
# kind -> how its full server refuses a sign-in
KINDS = {"pyftpdlib": "421 Too many connections. Service temporarily unavailable.",
         "vsftpd": "421 There are too many connected users, please try later.",
         "proftpd": PROFTPD_FULL, "proftpd-nomlsd": PROFTPD_FULL}


def publish_as_link(folder, name, target):
    os.rename(os.path.join(folder, name), os.path.join(folder, target))
    os.symlink(target, os.path.join(folder, name))


class RealServers(CloudTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        info = cls.content.info
        redist = os.path.join(info["redist"], "Redist")
        publish_as_link(redist, "tekmoUpdate.zip", "Tekmo_2.2.0.zip")
        for i in range(2000):  # a crowded folder, listed and probed on every server
            open(os.path.join(redist, "old build %04d.txt" % i), "w").close()
        sets = os.path.join(info["subscriber"]["home"], "Tekmo", "ConfigSets")
        publish_as_link(sets, "Office.7z", "Office_2026.7z")
        shutil.copy(os.path.join(sets, "Workshop.7z"), os.path.join(sets, "\u00c9quipe Nord.7z"))

    def program_on(self, kind, full=False):
        cloud = Cloud(self.content.info, kind, full)
        self.addCleanup(cloud.stop)
        require(self, cloud.endpoints, kind + " did not start (see tools/cloud/real_ftpd.py)")
        return self.program(cloud=cloud, default_config="Office")

    def test_lists_the_unattended_run_and_a_full_server_on_each_kind(self):
        for kind, refusal in KINDS.items():
            with self.subTest(kind):
                p = self.program_on(kind)
                window = p.run(commands="expand\nshow\nclose\n").stdout
                for shown in ("Workshop", "Office_2026", "Field Team", "\u00c9quipe Nord", "Tekmo_2.0.1.zip",
                              "Tekmo_2.1.0.zip"):
                    self.assertIn(shown, window)
                result = p.run(["sfx"])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
                self.assertIn("ConfigSet=Office", read_text(os.path.join(p.tool, "Config", "Tekmo.ini")))
                # A 530 refuses the name or password; any other refusal is about the way there.
                advice = ("Check the user name and password" if refusal.startswith("530")
                          else "Check the network connection and the server's address")
                full = self.program_on(kind, full=True).run(commands="login\n")
                self.assertEqual(message_boxes(full.stdout), [("Talvane", "exclamation",
                    "Test Login Failed!\n%s\n%s, then try again." % (refusal, advice))])
