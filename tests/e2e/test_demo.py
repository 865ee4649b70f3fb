"""The README's demo script, run against the binary under test in a temporary folder."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import BIN, SOURCE, read_ini, unscramble  # noqa: E402


class DemoScript(unittest.TestCase):
    @unittest.skipUnless(os.access(BIN, os.X_OK), "TALVANE_BIN does not name the launcher binary")
    def test_unattended_demo_deploys_and_shows_the_started_tool(self):
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
            self.assertEqual(sorted(os.listdir(os.path.join(demo, "program"))), ["Talvane", "Talvane.ini"])
            # The cloud was stopped on the way out.
            self.assertFalse(os.path.exists(os.path.join(demo, "state", "pid")))


if __name__ == "__main__":
    unittest.main()
