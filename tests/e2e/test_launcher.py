"""End-to-end runs of the real launcher binary against the local demo cloud,
driven through its console frontend. Workflow details are checked by the C++
workflow tests; these show the binary's own wiring."""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import BIN, Content, Program, bitmap, message_boxes, unscramble  # noqa: E402

CONTENT = None


def setUpModule():
    global CONTENT
    if not os.access(BIN, os.X_OK):
        raise unittest.SkipTest("TALVANE_BIN does not name the launcher binary")
    CONTENT = Content()


def tearDownModule():
    CONTENT.stop()


class LauncherTest(unittest.TestCase):
    def program(self, stored=True, **kwargs):
        sub = CONTENT.info["subscriber"]
        self.user, self.password, self.zip_password = sub["user"], sub["password"], sub["zip_password"]
        p = Program(CONTENT, credentials=(self.user, self.password, self.zip_password) if stored else None,
                    **kwargs)
        self.addCleanup(shutil.rmtree, p.root, True)
        return p

    def run_ok(self, p, args=(), commands=""):
        result = p.run(args, commands)
        self.assertEqual(result.returncode, 0, "stdout:\n%s\nstderr:\n%s" % (result.stdout, result.stderr))
        return result

    def assertDeployed(self, p, config_set, tool, arguments, files=("Talvane", "Talvane.ini")):
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [%s]" % arguments])
        with open(os.path.join(tool, "Config", "Tekmo.ini"), encoding="utf-8") as f:
            self.assertIn("ConfigSet=%s" % config_set, f.read())
        self.assertTrue(os.path.exists(os.path.join(tool, "Modules", "Defs", "core.def")))
        self.assertEqual(sorted(os.listdir(p.prog)), list(files))


class Console(LauncherTest):
    def test_typed_credentials_splash_setdefault_dialog_then_sfx_deploys_and_starts(self):
        p = self.program(stored=False, default_config="Office", default_path=None)
        # Credentials incomplete: the full window opens and the user types them.
        first = self.run_ok(p, commands="user %s\npassword %s\nzip-password %s\nsave-quit\n"
                            % (self.user, self.password, self.zip_password))
        self.assertIn("window 7530 x 4380 twips", first.stdout)
        s = p.settings()
        self.assertEqual(s["username"], self.user)
        for key, plain in (("password", self.password), ("zippassword", self.zip_password)):
            self.assertNotIn(plain, s[key])
            self.assertEqual(unscramble(s[key]), plain, "an independent decoder reads it back")

        self.assertIn("[splash] shown: window 4770 x 650 twips, bar 650 twips, no logo\n",
                      self.run_ok(p, ["-splash"]).stderr)
        logo = p.path("Logo.BMP")
        with open(logo, "wb") as f:
            f.write(bitmap(300, 100))
        result = self.run_ok(p, ["/SetDefault"],
                             "auto Workshop\nfolder \\Support\nimport %s\nsave\n" % logo)
        s = p.settings()
        self.assertEqual((s["defaultconfig"], s["defaultpath"]), ("Workshop", "\\Support"))
        self.assertEqual(message_boxes(result.stdout), [("Talvane", "", "Logo Imported.")])
        # The splash now carries the logo: 300 x 100 pixels = 4500 x 1500 twips.
        with_logo = "[splash] shown: window 4500 x 1875 twips, bar 375 twips, logo 4500 x 1500 twips"
        self.assertIn(with_logo, self.run_ok(p, ["-splash"]).stderr)

        # Unattended, the saved set goes to \Support\tekmo; a typed command is ignored.
        result = self.run_ok(p, ["sfx"], "user intruder\n")
        self.assertDeployed(p, "Workshop", os.path.join(p.drive, "Support", "tekmo"), "/deltalvane",
                            ("Talvane", "Talvane.bmp", "Talvane.ini"))
        # Hidden window: the splash and status report on standard error.
        self.assertNotIn("=== ", result.stdout)
        self.assertIn(with_logo, result.stderr)
        self.assertIn("[status] shown: Please Wait... | Extracting Config...", result.stderr)
        for secret in (self.password, self.zip_password):
            self.assertNotIn(secret, p.log_text())

    def test_update_me_starts_the_new_program_which_removes_the_old_one(self):
        CONTENT.set_index("9.9.9", CONTENT.endpoints["http"] + "/Talvane.zip")
        self.addCleanup(CONTENT.set_index, CONTENT.info["program_version"])
        p = self.program()
        result = self.run_ok(p, commands="select Office\nupdate\n")
        self.assertIn("[Update Me!]", result.stdout)
        self.assertIn("configuration list is not available", result.stderr)
        # The new program ran (its start banner in the shared log) and, at its
        # start, deleted the file the update had moved aside.
        old = os.path.join(p.prog, "Talvane_old")
        self.assertTrue(p.wait_for(lambda: p.log_text().count("- Starting Talvane") == 2
                                   and not os.path.exists(old)), p.log_text())
        self.assertTrue(os.access(p.exe, os.X_OK))
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.ini"])


if __name__ == "__main__":
    unittest.main()
