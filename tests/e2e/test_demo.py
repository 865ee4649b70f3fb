"""The README's demo script, run against the binary under test in a temporary folder."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import SOURCE, launcher_binary, read_ini, unscramble  # noqa: E402

SCRIPT = os.path.join(SOURCE, "tools", "demo", "run_demo.sh")


class DemoScript(unittest.TestCase):
    def setUp(self):
        if not os.access(launcher_binary(), os.X_OK):
            self.skipTest("TALVANE_BIN does not name the launcher binary")
        self.tmp = tempfile.mkdtemp(prefix="talvane-e2e-demo-")
        self.demo = os.path.join(self.tmp, "demo")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_demo(self, *args):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(TALVANE_BIN=launcher_binary(), TALVANE_DEMO_DIR=self.demo)
        return subprocess.run([SCRIPT] + list(args), capture_output=True, text=True, env=env,
                              timeout=300, stdin=subprocess.DEVNULL)

    def test_unattended_demo_deploys_and_shows_the_started_tool(self):
        result = self.run_demo()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Tekmo 2.2.0 started with arguments: [/deltalvane]", result.stdout)
        settings = read_ini(os.path.join(self.demo, "program", "Talvane.ini"))["tekmocloud"]
        self.assertEqual(settings["username"], "tech1")
        self.assertEqual(unscramble(settings["zippassword"]), "kit 7749 blue")
        self.assertNotIn("kit 7749 blue", result.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.demo, "Tools", "tekmo", "Config", "Tekmo.ini")))
        self.assertEqual(sorted(os.listdir(os.path.join(self.demo, "program"))),
                         ["Talvane", "Talvane.ini"])
        # The cloud was stopped on the way out.
        self.assertFalse(os.path.exists(os.path.join(self.demo, "state", "pid")))


if __name__ == "__main__":
    unittest.main()
