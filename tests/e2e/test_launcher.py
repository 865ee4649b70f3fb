"""End-to-end runs of the real launcher binary against the local demo cloud,
driven through its console frontend. Workflow details are checked by the C++
workflow tests; these show the binary's own wiring."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import (Cloud, Content, Program, bitmap, launcher_binary,  # noqa: E402
                          message_boxes, unscramble)

CONTENT = None
CLOUD = None


def setUpModule():
    global CONTENT, CLOUD
    if not os.access(launcher_binary(), os.X_OK):
        raise unittest.SkipTest("TALVANE_BIN does not name the launcher binary")
    CONTENT = Content()
    try:
        CLOUD = Cloud(CONTENT)
    except Exception:
        CONTENT.cleanup()
        raise


def tearDownModule():
    if CLOUD:
        CLOUD.stop()
    if CONTENT:
        CONTENT.cleanup()


class LauncherTest(unittest.TestCase):
    def setUp(self):
        sub = CONTENT.info["subscriber"]
        self.user, self.password, self.zip_password = sub["user"], sub["password"], sub["zip_password"]
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            p.cleanup()

    def program(self, stored=True, **kwargs):
        if stored:
            kwargs.setdefault("credentials", (self.user, self.password, self.zip_password))
        p = Program(CLOUD, **kwargs)
        self.programs.append(p)
        return p

    def assertRunOk(self, result):
        self.assertEqual(result.returncode, 0, "stdout:\n%s\nstderr:\n%s" % (result.stdout, result.stderr))

    def assertDeployed(self, p, config_set, tool=None):
        tool = tool or p.tool
        with open(os.path.join(tool, "Config", "Tekmo.ini"), encoding="utf-8") as f:
            self.assertIn("ConfigSet=%s" % config_set, f.read())
        self.assertTrue(os.path.exists(os.path.join(tool, "Modules", "Defs", "core.def")))
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.ini"])


class Console(LauncherTest):
    def test_credentials_saved_by_the_launcher_then_sfx_deploys_and_starts_the_tool(self):
        p = self.program(stored=False, default_config="Field Team")
        # Credentials incomplete: the full window opens and the user types them.
        first = p.run(commands="user %s\npassword %s\nzip-password %s\nsave-quit\n"
                      % (self.user, self.password, self.zip_password))
        self.assertRunOk(first)
        self.assertIn("window 7530 x 4380 twips", first.stdout)
        s = p.settings()
        self.assertEqual(s["username"], self.user)
        for key, plain in (("password", self.password), ("zippassword", self.zip_password)):
            self.assertNotIn(plain, s[key])
            self.assertEqual(unscramble(s[key]), plain, "an independent decoder reads it back")

        result = p.run(["sfx"], commands="user intruder\n")
        self.assertRunOk(result)
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
        self.assertDeployed(p, "Field Team")
        # Hidden window: the splash and status report on standard error.
        self.assertNotIn("=== ", result.stdout)
        self.assertIn("[splash] shown: window 4770 x 650 twips", result.stderr)
        self.assertIn("[status] shown: Please Wait... | Extracting Config...", result.stderr)
        self.assertNotIn(self.zip_password, p.log_text())
        self.assertNotIn(self.password, p.log_text())

    def test_messages_selection_and_download_run(self):
        p = self.program()
        result = p.run(commands="download-run\nlogin\nselect workshop\nshow\ndownload-run\nlogin\n")
        self.assertRunOk(result)
        self.assertEqual(message_boxes(result.stdout),
                         [("Talvane", "", "You must select a config first!"),
                          ("Talvane", "", "Test Login Success!\nConfig list has been refreshed!")],
                         "the process ended with Download & Run")
        self.assertRegex(result.stdout, r"> \d\. Workshop\n")
        for name in CONTENT.info["sets"]:
            self.assertRegex(result.stdout, r"\d\. %s\n" % re.escape(name))
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: []"])
        self.assertDeployed(p, "Workshop")
        self.assertRegex(result.stderr, r"transfer \[#+\] 100% \(\d+/\d+\)")


class DefaultDialogAndSplash(LauncherTest):
    def test_setdefault_saves_both_settings_and_imports_a_logo(self):
        p = self.program(default_config="Office", default_path=None)
        logo = os.path.join(p.root, "Logo.BMP")
        with open(logo, "wb") as f:
            f.write(bitmap(300, 100))
        result = p.run(["/SetDefault"],
                       commands="auto Workshop\nfolder \\Support\nimport %s\nsave\n" % logo)
        self.assertRunOk(result)
        s = p.settings()
        self.assertEqual((s["defaultconfig"], s["defaultpath"]), ("Workshop", "\\Support"))
        self.assertEqual(message_boxes(result.stdout), [("Talvane", "", "Logo Imported.")])

        # The splash now carries the logo: 300 x 100 pixels = 4500 x 1500 twips.
        demo = p.run(["-splash"])
        self.assertRunOk(demo)
        self.assertIn("[splash] shown: window 4500 x 1875 twips, bar 375 twips, logo 4500 x 1500 twips",
                      demo.stderr)

        # The next unattended start deploys the saved set to \Support\tekmo.
        os.remove(os.path.join(p.prog, "Talvane.bmp"))
        self.assertRunOk(p.run(["sfx"]))
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
        self.assertDeployed(p, "Workshop", os.path.join(p.drive, "Support", "tekmo"))


class SelfUpdate(LauncherTest):
    def tearDown(self):
        CONTENT.set_index(CONTENT.info["program_version"])
        super().tearDown()

    def test_update_me_starts_the_new_program_which_removes_the_old_one(self):
        CONTENT.set_index("9.9.9", CLOUD.endpoints["http"] + "/Talvane.zip")
        p = self.program()
        result = p.run(commands="select Office\nupdate\n")
        self.assertRunOk(result)
        self.assertIn("[Update Me!]", result.stdout)
        self.assertIn("configuration list is not available", result.stderr)
        # The new program ran (its start banner in the shared log) and, at its
        # start, deleted the file the update had moved aside.
        old = os.path.join(p.prog, "Talvane_old")
        deadline = time.monotonic() + 30
        while ((p.log_text().count("- Starting Talvane") < 2 or os.path.exists(old))
               and time.monotonic() < deadline):
            time.sleep(0.1)
        self.assertEqual(p.log_text().count("- Starting Talvane"), 2, p.log_text())
        self.assertFalse(os.path.exists(old))
        self.assertTrue(os.access(p.exe, os.X_OK))
        for name in ("Talvane.zip", "VelmoraUpdates.ini", "VelmoraUpdates.zip"):
            self.assertFalse(os.path.exists(os.path.join(p.prog, name)), name)


if __name__ == "__main__":
    unittest.main()
