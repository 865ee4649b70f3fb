"""The real program's windows under each window manager with both cores busy: the splash and
status window of an unattended run, and a box mid-run, get painted; how soon is printed, and
TALVANE_SCREENSHOT_DIR keeps the pictures (a folder per window manager)."""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "bench"))

from launcher_env import PackageTest, require, scramble  # noqa: E402
from xwindows import TOOLS, Display, observe, save_png  # noqa: E402

SPIN = ("import multiprocessing as m\ndef spin():\n    while True: pass\n"
        "[m.Process(target=spin).start() for _ in range(2)]")


class WindowsUnderLoad(PackageTest):
    def setUp(self):
        require(self, all(TOOLS[t] for t in ("Xvfb", "xwininfo", "xwd", "xprop")), "Xvfb and x11-apps are needed")
        super().setUp()
        stress = shutil.which("stress")
        self.load = subprocess.Popen([stress, "-c", "2"] if stress else [sys.executable, "-c", SPIN],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: os.killpg(self.load.pid, 9))

    def sfx(self, display, zip_password, enough=lambda seen: False):
        self.p.set_setting("ZipPassword", scramble(zip_password), "TekmoCloud")
        env = {k: v for k, v in self.p.environment().items() if k != "TALVANE_UI"}
        return observe(display, [self.p.exe, "sfx"], env, enough)

    def check(self, wm, windows, names):
        """Each window got painted; the delays are printed and the pictures kept."""
        keep = os.environ.get("TALVANE_SCREENSHOT_DIR")
        for seen, name in zip(windows, names):
            delay, _ = seen.painted_after()
            self.assertIsNotNone(delay, "%s under %s was never painted" % (name, wm))
            print("\n%s, %s: painted %.0f ms after it was seen" % (wm, name, delay * 1000), file=sys.stderr)
            if keep:
                os.makedirs(os.path.join(keep, wm), exist_ok=True)
                save_png(os.path.join(keep, wm, name + ".png"), *seen.shots[-1][1])

    def test_the_status_window_and_a_box_mid_run_get_painted(self):
        wms = [wm for wm in ("openbox", "metacity") if TOOLS[wm]]
        require(self, wms, "no window manager installed")
        for wm in wms:
            with self.subTest(wm):
                display = Display(wm)
                self.addCleanup(display.stop)
                # A large package: the status window stays while it is unpacked.
                self.repack(lambda info, data: data, {"lib/f%04d.txt" % i: b"%d\n" % i * 40 for i in range(6000)})
                windows = self.sfx(display, self.zip_password)
                # Before the configuration's windows: the splash and the narrower status window.
                early = windows[:next(i for i, w in enumerate(windows) if w.name != "Talvane")]
                splash = max(early, key=lambda w: (w.width, len(w.shots)))  # not the toolkit's leader
                status = min(early, key=lambda w: w.width)
                self.assertLess(status.width, splash.width)
                self.check(wm, [splash, status], ["sfx-splash", "sfx-status"])
                # The configuration set cannot be decrypted: the box comes once the rest is done.
                shutil.copy2(self.original, self.package)
                windows = self.sfx(display, "not-the-zip-password", lambda seen: (
                    "Please Wait..." in [w.name for w in seen.values()] and
                    list(seen.values())[-1].name == "Talvane" and list(seen.values())[-1].done))
                self.check(wm, windows[-1:], ["box-mid-run"])
                display.stop()
