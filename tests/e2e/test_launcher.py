"""End-to-end runs of the real launcher binary against the local demo cloud,
driven through its console frontend."""

import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import (Cloud, Content, Program, bitmap, launcher_binary,  # noqa: E402
                          message_boxes, scramble, unscramble)

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


def tree(root):
    found = set()
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


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

    def assertNoLeftovers(self, p):
        self.assertEqual(sorted(os.listdir(p.prog)), ["Talvane", "Talvane.ini"])

    def assertRunOk(self, result):
        self.assertEqual(result.returncode, 0, "stdout:\n%s\nstderr:\n%s" % (result.stdout, result.stderr))

    def assertDeployed(self, p, config_set):
        t = tree(p.tool)
        for rel in ("Tekmo", "Config/Tekmo.ini", "Config/Package.ini", "Scripts/startup.cmd",
                    "Scripts/tasks/cleanup.cmd", "Modules/Defs/set.def", "Modules/Defs/core.def",
                    "Modules/Defs/extra/more.def", "3rd Party Tools/Ketarin/jobs.db",
                    "3rd Party Tools/Ketarin/settings.db"):
            self.assertIn(rel, t)
        # Only the Ketarin databases travel; the rest of the set is discarded.
        self.assertNotIn("3rd Party Tools/Ketarin/notes.txt", t)
        with open(os.path.join(p.tool, "Config", "Tekmo.ini"), encoding="utf-8") as f:
            self.assertIn("ConfigSet=%s" % config_set, f.read())


class UnattendedRun(LauncherTest):
    def test_credentials_saved_by_the_launcher_then_sfx_deploys_and_starts_the_tool(self):
        p = self.program(stored=False, default_config="Field Team")
        # First start: credentials incomplete, the full window opens; the user types them.
        first = p.run(commands="user %s\npassword %s\nzip-password %s\nsave-quit\n"
                      % (self.user, self.password, self.zip_password))
        self.assertRunOk(first)
        self.assertIn("window 7530 x 4380 twips", first.stdout)
        s = p.settings()
        self.assertEqual(s["username"], self.user)
        for key, plain in (("password", self.password), ("zippassword", self.zip_password)):
            self.assertNotIn(plain, s[key])
            self.assertTrue(s[key].endswith("~>"))
            self.assertEqual(unscramble(s[key]), plain, "an independent decoder reads it back")

        result = p.run(["sfx"], commands="user intruder\n")
        self.assertRunOk(result)
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
        self.assertDeployed(p, "Field Team")
        self.assertNoLeftovers(p)
        # Hidden window: nothing on standard output but what the children print;
        # the splash shows the progress on standard error.
        self.assertNotIn("=== ", result.stdout)
        self.assertIn("[splash] shown: window 4770 x 650 twips", result.stderr)
        self.assertRegex(result.stderr, r"splash \[#+\] 100% \(\d+/\d+\)")
        self.assertIn("[status] shown: Please Wait... | Extracting Config...", result.stderr)
        self.assertNotIn(self.zip_password, p.log_text())
        self.assertNotIn(self.password, p.log_text())
        self.assertIn("7zip (tekmo_Config.7z) returned errorlevel 0", p.log_text())

    def test_sfx_without_a_default_shows_the_window_and_downloads_nothing(self):
        p = self.program(default_config="%PROMPT%")
        result = p.run(["SFX=1"])
        self.assertRunOk(result)
        self.assertIn("=== Download and Run tekmo Now? === window 5145 x 2220 twips", result.stdout)
        self.assertIn("[x] Delete Me After Download", result.stdout)
        self.assertNotIn("> ", result.stdout.split("Select Config", 1)[1].split("[ ] Save", 1)[0])
        self.assertEqual(p.started_lines(timeout=0.5), [])
        self.assertFalse(os.path.exists(p.tool))
        self.assertNoLeftovers(p)


class InteractiveConsole(LauncherTest):
    def test_messages_selection_and_download_run(self):
        p = self.program()
        result = p.run(commands="download-run\nlogin\nselect workshop\nshow\ndownload-run\nlogin\n")
        self.assertRunOk(result)
        boxes = message_boxes(result.stdout)
        self.assertEqual(boxes[0], ("Talvane", "", "You must select a config first!"))
        self.assertEqual(boxes[1], ("Talvane", "", "Test Login Success!\nConfig list has been refreshed!"))
        self.assertEqual(len(boxes), 2, "the process ended with Download & Run")
        # The catalogue as listed by the server, the chosen entry marked.
        self.assertRegex(result.stdout, r"> \d\. Workshop\n")
        for name in CONTENT.info["sets"]:
            self.assertRegex(result.stdout, r"\d\. %s\n" % re.escape(name))
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: []"])
        self.assertDeployed(p, "Workshop")
        self.assertNoLeftovers(p)
        self.assertRegex(result.stderr, r"transfer \[#+\] 100% \(\d+/\d+\)")

    def test_run_previous_version_asks_for_both_choices(self):
        p = self.program(default_config="%prompt%")
        result = p.run(commands="run-previous\nselect Office\nrun-previous\nversion Tekmo_2.0.1.zip\n"
                       "toggle delete-me\nrun-previous\n")
        self.assertRunOk(result)
        texts = [b[2] for b in message_boxes(result.stdout)]
        self.assertEqual(texts, ["You must select a config first!",
                                 "You must select a previous version first!"])
        self.assertEqual(p.started_lines(), ["Tekmo 2.0.1 started with arguments: []"])
        self.assertDeployed(p, "Office")
        self.assertNoLeftovers(p)

    def test_companion_setup_runs_silently_then_from_disk(self):
        p = self.program()
        result = p.run(commands="install Harlo\ntoggle silent\ninstall harlo\n")
        self.assertRunOk(result)
        self.assertEqual(p.started_lines(2), ["HarloSetup started with arguments: [/silent]",
                                              "HarloSetup started with arguments: []"])
        self.assertTrue(os.path.exists(os.path.join(p.tool, "Modules", "Harlo", "HarloSetup.exe")))
        self.assertEqual(message_boxes(result.stdout), [])

    def test_a_click_during_a_workflow_is_ignored(self):
        p = self.program()
        proc = subprocess.Popen([p.exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, env=p.env(), cwd=p.root)
        try:
            proc.stdin.write("select Office\ndownload-run\n")
            proc.stdin.flush()
            # The package is being unpacked: the configuration, 7-Zip and a one-second
            # wait are still ahead. Clicks sent now arrive in the middle of the workflow.
            err = []
            while True:
                line = proc.stderr.readline()
                err.append(line)
                if not line or "Extracting tekmoUpdate.zip" in line:
                    break
            proc.stdin.write("login\ndownload-run\nexpand\n")
            proc.stdin.close()
            err.append(proc.stderr.read())
            out = proc.stdout.read()
            code = proc.wait(120)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
            proc.stderr.close()
        err = "".join(err)
        self.assertEqual(code, 0, err)
        self.assertIn("[busy] login ignored", err)
        self.assertIn("[busy] download-run ignored", err)
        # The layout button stays usable while the workflow runs.
        self.assertIn("window 7530 x 4380 twips", out)
        self.assertNotIn("Test Login Success!", out)
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: []"])
        time.sleep(0.5)  # a second start of the tool would have shown up by now
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: []"])
        self.assertDeployed(p, "Office")
        self.assertNoLeftovers(p)

    def test_lines_typed_ahead_wait_for_the_running_workflow(self):
        p = self.program()
        result = p.run(commands="install Harlo\ntoggle silent\ninstall harlo\nlogin\n")
        self.assertRunOk(result)
        self.assertNotIn("[busy]", result.stderr)
        self.assertEqual(message_boxes(result.stdout)[-1][2],
                         "Test Login Success!\nConfig list has been refreshed!")

    def test_end_of_input_closes_and_removes_the_left_over_old_program(self):
        p = self.program()
        with open(os.path.join(p.prog, "Talvane_old"), "w") as f:
            f.write("previous program")
        result = p.run(commands="")
        self.assertRunOk(result)
        self.assertFalse(os.path.exists(os.path.join(p.prog, "Talvane_old")))
        self.assertNoLeftovers(p)


class DefaultDialogAndSplash(LauncherTest):
    def test_setdefault_saves_both_settings_and_imports_a_logo(self):
        p = self.program(default_config="Office", default_path=None)
        pictures = os.path.join(p.root, "pictures")
        os.makedirs(pictures)
        logo = os.path.join(pictures, "Logo.BMP")
        with open(logo, "wb") as f:
            f.write(bitmap(300, 100))
        result = p.run(["/SetDefault"],
                       commands="auto Workshop\nfolder \\Support\nimport %s\nsave\n" % logo)
        self.assertRunOk(result)
        s = p.settings()
        self.assertEqual(s["defaultconfig"], "Workshop")
        self.assertEqual(s["defaultpath"], "\\Support")
        self.assertEqual(message_boxes(result.stdout), [("Talvane", "", "Logo Imported.")])
        self.assertIn("Custom Logo:  Found!", result.stdout)
        self.assertRegex(result.stdout, r"\n      > \d\. Workshop\n")
        self.assertTrue(os.path.exists(os.path.join(p.prog, "Talvane.bmp")))
        self.assertFalse(os.path.exists(os.path.join(p.prog, "Logo.BMP")))

        # The splash now carries the logo: 300 x 100 pixels = 4500 x 1500 twips.
        demo = p.run(["-splash"])
        self.assertRunOk(demo)
        self.assertIn("[splash] shown: window 4500 x 1875 twips, bar 375 twips, logo 4500 x 1500 twips",
                      demo.stderr)

        # And the next unattended start deploys the saved set to \Support\tekmo.
        run = p.run(["sfx"])
        self.assertRunOk(run)
        self.assertEqual(p.started_lines(), ["Tekmo 2.2.0 started with arguments: [/deltalvane]"])
        p.tool = os.path.join(p.drive, "Support", "tekmo")
        self.assertDeployed(p, "Workshop")
        os.remove(os.path.join(p.prog, "Talvane.bmp"))
        self.assertNoLeftovers(p)

    def test_setdefault_closed_without_saving_writes_nothing(self):
        p = self.program(default_config="Office")
        with open(p.ini, encoding="latin-1") as f:
            before = f.read()
        result = p.run(["/setdefault"], commands="prompt\ndesktop\n")
        self.assertRunOk(result)
        with open(p.ini, encoding="latin-1") as f:
            self.assertEqual(f.read(), before)

    def test_splash_demo_reads_no_settings_and_keeps_the_old_program(self):
        p = self.program()
        os.remove(p.ini)
        old = os.path.join(p.prog, "Talvane_old")
        with open(old, "w") as f:
            f.write("previous program")
        result = p.run(["-splash"], commands="close\n")
        self.assertRunOk(result)
        self.assertEqual(result.stdout, "")
        lines = result.stderr.splitlines()
        self.assertEqual(lines[0], "[splash] shown: window 4770 x 650 twips, bar 650 twips, no logo")
        self.assertEqual(lines[-1], "[splash] closed")
        values = [int(m) for m in re.findall(r"splash \[[#-]+\] +\d+% \((\d+)/100\)", result.stderr)]
        self.assertEqual(values, [1, 21, 41, 61, 81])
        self.assertTrue(os.path.exists(old))
        self.assertFalse(os.path.exists(p.ini))

    def test_splash_needs_the_exact_switch(self):
        p = self.program()
        result = p.run(["-SPLASH"])
        self.assertRunOk(result)
        self.assertIn("=== Download and Run tekmo Now? === window 5145 x 2220 twips", result.stdout)

    def test_gui_request_falls_back_to_the_console(self):
        p = self.program()
        result = p.run(["-splash"], TALVANE_UI="gui")
        self.assertRunOk(result)
        self.assertIn("no graphical frontend", result.stderr)
        self.assertIn("[splash] closed", result.stderr)


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
        # The new program ran (its own start banner in the shared log) and, at its
        # start, deleted the file the update had moved aside.
        deadline = time.monotonic() + 30
        while p.log_text().count("- Starting Talvane") < 2 and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(p.log_text().count("- Starting Talvane"), 2, p.log_text())
        while os.path.exists(os.path.join(p.prog, "Talvane_old")) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertFalse(os.path.exists(os.path.join(p.prog, "Talvane_old")))
        self.assertTrue(os.access(p.exe, os.X_OK))
        for name in ("Talvane.zip", "VelmoraUpdates.ini", "VelmoraUpdates.zip"):
            self.assertFalse(os.path.exists(os.path.join(p.prog, name)), name)
        self.assertEqual(p.started_lines(timeout=0.2), [])

    def test_current_version_offers_nothing(self):
        p = self.program()
        result = p.run(commands="update\n")
        self.assertRunOk(result)
        self.assertNotIn("Update Me!", result.stdout)
        self.assertIn("no update is offered", result.stderr)


if __name__ == "__main__":
    unittest.main()
