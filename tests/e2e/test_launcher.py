"""End-to-end runs of the real launcher binary against the local demo cloud, driven through
its console frontend (workflow details are checked by the C++ workflow tests; these show the
binary's own wiring), and the README's demo script in a temporary folder."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import (BIN, SOURCE, CloudTest, bitmap, message_boxes, read_ini,  # noqa: E402
                          require, unscramble)


class Console(CloudTest):
    def run_ok(self, p, args=(), commands=""):
        result = p.run(args, commands)
        self.assertEqual(result.returncode, 0, "stdout:\n%s\nstderr:\n%s" % (result.stdout, result.stderr))
        return result

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
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
        with open(os.path.join(p.drive, "Support", "tekmo", "Config", "Tekmo.ini"), encoding="utf-8") as f:
            self.assertIn("ConfigSet=Workshop", f.read())
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.bmp", "Talvane.ini"])
        # Hidden window: the splash and status report on standard error.
        self.assertNotIn("=== ", result.stdout)
        self.assertIn(with_logo, result.stderr)
        self.assertIn("[status] shown: Please Wait... | Extracting Config...", result.stderr)
        self.assertIn("[splash] line: Decrypting configuration", result.stderr)
        for secret in (self.password, self.zip_password):
            self.assertNotIn(secret, p.log_text())

    def test_update_me_starts_the_new_program_which_removes_the_old_one(self):
        self.content.set_index("9.9.9", self.content.endpoints["http"] + "/Talvane.zip")
        self.addCleanup(self.content.set_index, self.content.info["program_version"])
        p = self.program()
        result = self.run_ok(p, commands="select Office\nupdate\n")
        self.assertIn("[Update Me!]", result.stdout)
        # The new program ran (its start banner in the shared log) and, at its
        # start, deleted the file the update had moved aside.
        old = os.path.join(p.prog, "Talvane_old")
        self.assertTrue(p.wait_for(lambda: p.log_text().count("- Starting Talvane") == 2
                                   and not os.path.exists(old)), p.log_text())
        # The rest of the package joined the program.
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane-ReadMe.txt", "Talvane.ini"])


class DemoScript(unittest.TestCase):
    def test_unattended_demo_deploys_and_shows_the_started_tool(self):
        require(self, os.access(BIN, os.X_OK), "TALVANE_BIN does not name the launcher binary")
        with tempfile.TemporaryDirectory(prefix="talvane-e2e-demo-") as tmp:
            demo = os.path.join(tmp, "demo")
            env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            result = subprocess.run([os.path.join(SOURCE, "tools", "demo", "run_demo.sh")],
                                    capture_output=True, text=True, timeout=300, stdin=subprocess.DEVNULL,
                                    env=dict(env, TALVANE_BIN=BIN, TALVANE_DEMO_DIR=demo))
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn("Tekmo 2.2.0 started with arguments: [/deltalvane]", result.stdout)
            settings = read_ini(os.path.join(demo, "program", "Talvane.ini"))["tekmocloud"]
            self.assertEqual(settings["username"], "tech1")
            self.assertEqual(unscramble(settings["zippassword"]), "kit 7749 blue")
            self.assertNotIn("kit 7749 blue", result.stdout)
            self.assertTrue(os.path.exists(os.path.join(demo, "Tools", "tekmo", "Config", "Tekmo.ini")))
            self.assertEqual(sorted(os.listdir(os.path.join(demo, "program"))),
                             ["Talvane", "Talvane.ini", "Talvane.signatures"])
            # The cloud was stopped on the way out.
            self.assertFalse(os.path.exists(os.path.join(demo, "state", "pid")))

if __name__ == "__main__":
    unittest.main()
