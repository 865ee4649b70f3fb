"""The real program's windows on a private X server under each window manager, with both cores
kept busy by other processes: the status window of an unattended run that unpacks a large
package, and a box opened mid-run, get painted. How long after they were first seen mapped is
printed as a figure (no timed assertion); with TALVANE_SCREENSHOT_DIR set the pictures are kept
there, a folder per window manager."""

import os
import re
import shutil
import subprocess
import sys
import time
import struct
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest, require, scramble  # noqa: E402

TOOLS = {name: shutil.which(name) for name in ("Xvfb", "xwininfo", "xwd", "xprop", "openbox", "metacity")}
LOAD = shutil.which("stress")


class Display:
    """Xvfb on a free display number with the window manager `wm` running on it."""

    def __init__(self, wm):
        number = next(n for n in range(91, 200) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        self.name, quiet = ":%d" % number, dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server = subprocess.Popen([TOOLS["Xvfb"], self.name, "-screen", "0", "1280x1024x24", "-dpi",
                                        "96", "-nolisten", "tcp"], **quiet)
        self.wm = None
        deadline = time.monotonic() + 60
        while b"window id" not in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"):
            if time.monotonic() > deadline:
                raise RuntimeError("%s did not start on %s" % (wm, self.name))
            if self.wm is None and b"IsViewable" in self.run(TOOLS["xwininfo"], "-root"):
                self.wm = subprocess.Popen([TOOLS[wm]], env=dict(os.environ, DISPLAY=self.name), **quiet)
            time.sleep(0.1)

    def run(self, *args):
        return subprocess.run(args, capture_output=True, env=dict(os.environ, DISPLAY=self.name)).stdout

    def stop(self):
        for process in (self.wm, self.server):
            if process and process.poll() is None:
                process.kill()
                process.wait()

    def new_windows(self, names, known):
        """(id, name, width) of the viewable windows called one of `names` that are not `known`."""
        tree = self.run(TOOLS["xwininfo"], "-root", "-tree").decode("utf-8", "replace")
        found = re.findall(r'^\s+(0x[0-9a-f]+) "([^"]*)": \(.*?\)\s+(\d+)x\d+\+', tree, re.M)
        return [(i, n, int(w)) for i, n, w in found if n in names and int(w) >= 100 and i not in known
                and b"IsViewable" in self.run(TOOLS["xwininfo"], "-id", i)]

    def capture(self, window):
        """(width, height, RGB bytes) of what the window shows, or None once it is gone."""
        data = self.run(TOOLS["xwd"], "-id", window, "-silent")
        if len(data) < 100:
            return None
        field = struct.unpack(">25I", data[:100])
        size, width, height, per_line, colours = field[0], field[4], field[5], field[12], field[19]
        start = size + 12 * colours
        rows = [data[start + y * per_line:start + y * per_line + 4 * width] for y in range(height)]
        rgb = b"".join(bytes(row[x + c] for x in range(0, len(row), 4) for c in (2, 1, 0)) for row in rows)
        return width, height, rgb


def save_png(path, width, height, rgb):
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body +
                                struct.pack(">I", zlib.crc32(kind + body)))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def version(files):
    return {"lib/d%02d/f%04d.txt" % (i % 40, i): b"file %d\n" % i * 40 for i in range(files)}


def colours(shot):
    return len(set(shot[2][i:i + 3] for i in range(0, len(shot[2]), 3)))


class Seen:
    """A window of the program: its name and width, when it was first seen and what it showed."""

    def __init__(self, name, width, first):
        self.name, self.width, self.first, self.shots, self.done = name, width, first, [], False

    def painted_after(self):
        """Seconds from first sight to the first look that found it painted (text on a background,
        not one colour), and that picture; None when no look did."""
        return next(((t, shot) for t, shot in self.shots if colours(shot) > 2), (None, self.shots[-1][1]))


class WindowsUnderLoad(PackageTest):
    LOOK = 1.5  # seconds each window is looked at

    def setUp(self):
        require(self, all(TOOLS[t] for t in ("Xvfb", "xwininfo", "xwd", "xprop")), "Xvfb and x11-apps are needed")
        super().setUp()
        self.load = subprocess.Popen([LOAD, "-c", "2"] if LOAD else
                                     [sys.executable, "-c", "import multiprocessing as m\n"
                                      "def spin():\n    while True: pass\n"
                                      "[m.Process(target=spin).start() for _ in range(2)]"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: os.killpg(self.load.pid, 9))

    def observe(self, display, args, enough):
        """Runs the program on `display` and looks at each of its windows (not the toolkit's
        small helpers) as it comes, until the run ends or enough(windows) says so."""
        env = dict(self.p.environment(), DISPLAY=display.name, GDK_BACKEND="x11", NO_AT_BRIDGE="1")
        env.pop("TALVANE_UI")
        run = subprocess.Popen([self.p.exe] + args, env=env, cwd=self.p.root,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        windows, deadline = {}, time.monotonic() + 90

        while run.poll() is None and time.monotonic() < deadline and not enough(windows):
            for i, name, width in display.new_windows(("Talvane", "Please Wait..."), windows):
                windows[i] = Seen(name, width, time.monotonic())
            for i, seen in windows.items():
                if seen.done:
                    continue
                shot = display.capture(i)
                seen.done = shot is None or time.monotonic() - seen.first > self.LOOK
                if shot:
                    seen.shots.append((time.monotonic() - seen.first, shot))
        run.kill()
        run.wait()
        return [w for w in windows.values() if w.shots]

    def set_zip_password(self, password):
        with open(self.p.ini, encoding="latin-1") as f:
            text = re.sub(r"^ZipPassword=.*$", "ZipPassword=" + scramble(password), f.read(), flags=re.M)
        with open(self.p.ini, "w", encoding="latin-1") as f:
            f.write(text)

    def check(self, wm, windows, names):
        """Each window got painted; the delays are printed and the pictures kept."""
        keep = os.environ.get("TALVANE_SCREENSHOT_DIR")
        for seen, name in zip(windows, names):
            delay, shot = seen.painted_after()
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
                self.repack(lambda info, data: data, version(6000))
                self.set_zip_password(self.zip_password)
                windows = self.observe(display, ["sfx"], lambda seen: False)
                # Before the configuration's windows: the splash, there all along, and the
                # narrower status window.
                early = [w for w in windows[:next(i for i, w in enumerate(windows) if w.name != "Talvane")]]
                splash, status = max(early, key=lambda w: len(w.shots)), min(early, key=lambda w: w.width)
                self.assertLess(status.width, splash.width)
                self.check(wm, [splash, status], ["sfx-splash", "sfx-status"])
                # The configuration set cannot be decrypted: the box comes once the rest is done.
                shutil.copy2(self.original, self.package)
                self.set_zip_password("not-the-zip-password")
                box = lambda seen: ("Please Wait..." in [w.name for w in seen.values()] and
                                    list(seen.values())[-1].name == "Talvane" and list(seen.values())[-1].done)
                windows = self.observe(display, ["sfx"], box)
                self.check(wm, windows[-1:], ["box-mid-run"])
                display.stop()
