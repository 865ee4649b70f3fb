"""Watching a program's windows on a private X server: Xvfb with a window manager, the windows
found by name with xwininfo, what each shows read from the server's screen memory, and PNG
pictures of it. The window
tests use it, and it can picture the real program for the documentation."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

TOOLS = {name: shutil.which(name) for name in ("Xvfb", "xwininfo", "xprop", "xdotool", "openbox", "metacity")}


class Display:
    """Xvfb on a free display number with the window manager `wm` running on it."""

    def __init__(self, wm):
        # The server picks a free display number itself: several displays may start at once.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        read, write = os.pipe()
        # The screen is read from the server's memory: asked for through the protocol, a window
        # over another of the program's may come back black although it is drawn.
        self.screen = tempfile.mkdtemp(prefix="talvane-screen-")
        self.server = subprocess.Popen([TOOLS["Xvfb"], "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                        "-dpi", "96", "-nolisten", "tcp", "-fbdir", self.screen],
                                       pass_fds=(write,), **quiet)
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()
        self.wm = None
        deadline = time.monotonic() + 60
        while b"window id" not in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"):
            if time.monotonic() > deadline:
                raise RuntimeError("%s did not start on %s" % (wm, self.name))
            if (self.wm is None or self.wm.poll() is not None) and b"IsViewable" in self.run(
                    TOOLS["xwininfo"], "-root"):
                self.wm = subprocess.Popen([TOOLS[wm]], env=dict(os.environ, DISPLAY=self.name), **quiet)
            time.sleep(0.1)
        if TOOLS["xdotool"]:  # the pointer is drawn into the screen: out of the pictures' way
            self.run(TOOLS["xdotool"], "mousemove", "0", "0")

    def run(self, *args):
        return subprocess.run(args, capture_output=True, env=dict(os.environ, DISPLAY=self.name)).stdout

    def stop(self):
        for process in (self.wm, self.server):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.screen, True)

    def new_windows(self, names, known):
        """(id, name, width) of the viewable windows called one of `names` that are not `known`."""
        tree = self.run(TOOLS["xwininfo"], "-root", "-tree").decode("utf-8", "replace")
        found = re.findall(r'^\s+(0x[0-9a-f]+) "([^"]*)": \(.*?\)\s+(\d+)x\d+\+', tree, re.M)
        return [(i, n, int(w)) for i, n, w in found if n in names and int(w) >= 100 and i not in known
                and b"IsViewable" in self.run(TOOLS["xwininfo"], "-id", i)]

    def frame(self, window):
        """(x, y, width, height) of the window on the screen, or None unless it is shown."""
        info = self.run(TOOLS["xwininfo"], "-id", window).decode()
        if "IsViewable" not in info:
            return None
        found = [re.search(r"%s:\s+(-?\d+)" % k, info)
                 for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
        return tuple(int(f.group(1)) for f in found) if all(found) else None

    def capture(self):
        """(width, height, RGB bytes) of what the screen shows."""
        with open(os.path.join(self.screen, "Xvfb_screen0"), "rb") as f:
            data = f.read()
        field = struct.unpack(">25I", data[:100])  # an XWD header
        size, width, height, step, per_line, colours = (field[0], field[4], field[5], field[11] // 8,
                                                        field[12], field[19])
        start = size + 12 * colours
        pixels = b"".join(data[start + y * per_line:start + y * per_line + step * width] for y in range(height))
        rgb = bytearray(3 * width * height)
        for c in range(3):  # BGR(X) to RGB, a plane at a time
            rgb[c::3] = pixels[2 - c::step]
        return width, height, bytes(rgb)

    @staticmethod
    def crop_to(screen, place):
        """The part of the screen at place (x, y, width, height), cut at the screen's edges."""
        x, y, w, h = place
        left, top = max(0, x), max(0, y)
        return crop(screen, left, top, min(screen[0], x + w) - left, min(screen[1], y + h) - top)

def save_png(path, width, height, rgb):
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body +
                                struct.pack(">I", zlib.crc32(kind + body)))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def crop(shot, x, y, width, height):
    """The part of a (width, height, RGB) picture at x, y of the given size."""
    line = shot[0] * 3
    return width, height, b"".join(shot[2][(y + r) * line + x * 3:(y + r) * line + (x + width) * 3]
                                   for r in range(height))


def black(shot):
    """The share of the picture's pixels that are black (nothing drawn)."""
    return shot[2][0::3].count(0) / max(1, shot[0] * shot[1]) if shot[2] else 1.0


def colours(shot):
    return len(set(shot[2][i:i + 3] for i in range(0, len(shot[2]), 3)))


class Seen:
    """A window of the program: its name and width, when it was first seen, what the screen
    showed there just before, and what it showed after (seconds from first sight, picture)."""

    def __init__(self, name, width, first, before):
        self.name, self.width, self.first, self.before, self.shots, self.done = name, width, first, before, [], False

    def painted_after(self):
        """Seconds from first sight to the first look that found it painted (text on a background,
        not what was there before it came), and that picture; None when no look did."""
        return next(((t, shot) for t, shot in self.shots if painted(shot, self.before)), (None, self.shots[-1][1]))


def painted(shot, before):
    """The window's place shows something drawn (not one colour, not mostly black) and not
    what the screen showed there before the window came."""
    return shot[2] != before[2] and colours(shot) > 2 and black(shot) < 0.5


def observe(display, argv, env, enough, look=1.5, names=("Talvane", "Please Wait...")):
    """Runs argv on `display` and looks at each of its windows called one of `names` (not the
    toolkit's small helpers) as it comes, each for `look` seconds, until the run ends or
    enough(windows) says so: the windows looked at, in the order they came."""
    run = subprocess.Popen(argv, env=dict(env, DISPLAY=display.name, GDK_BACKEND="x11", NO_AT_BRIDGE="1"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    windows, deadline = {}, time.monotonic() + 90
    start = display.capture()  # what a window hides is compared with the screen before the run
    while run.poll() is None and time.monotonic() < deadline and not enough(windows):
        for i, name, width in display.new_windows(names, windows):
            place = display.frame(i)
            if place:
                windows[i] = Seen(name, width, time.monotonic(), display.crop_to(start, place))
        screen = display.capture()
        for i, seen in windows.items():
            if seen.done:
                continue
            place = display.frame(i)
            seen.done = place is None or time.monotonic() - seen.first > look
            if place:
                seen.shots.append((time.monotonic() - seen.first, display.crop_to(screen, place)))
    run.kill()
    run.wait()
    return [w for w in windows.values() if w.shots]
