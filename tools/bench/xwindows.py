"""Watching a program's windows on a private X server: Xvfb with a window manager, the windows
found by name with xwininfo, what each shows read with xwd, and PNG pictures of it. The window
tests use it, and it can picture the real program for the documentation."""

import os
import re
import shutil
import struct
import subprocess
import time
import zlib

TOOLS = {name: shutil.which(name) for name in ("Xvfb", "xwininfo", "xwd", "xprop", "openbox", "metacity")}


class Display:
    """Xvfb on a free display number with the window manager `wm` running on it."""

    def __init__(self, wm):
        # The server picks a free display number itself: several displays may start at once.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        read, write = os.pipe()
        self.server = subprocess.Popen([TOOLS["Xvfb"], "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                        "-dpi", "96", "-nolisten", "tcp"], pass_fds=(write,), **quiet)
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


def observe(display, argv, env, enough, look=1.5, names=("Talvane", "Please Wait...")):
    """Runs argv on `display` and looks at each of its windows called one of `names` (not the
    toolkit's small helpers) as it comes, each for `look` seconds, until the run ends or
    enough(windows) says so: the windows looked at, in the order they came."""
    run = subprocess.Popen(argv, env=dict(env, DISPLAY=display.name, GDK_BACKEND="x11", NO_AT_BRIDGE="1"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    windows, deadline = {}, time.monotonic() + 90
    while run.poll() is None and time.monotonic() < deadline and not enough(windows):
        for i, name, width in display.new_windows(names, windows):
            windows[i] = Seen(name, width, time.monotonic())
        for i, seen in windows.items():
            if seen.done:
                continue
            shot = display.capture(i)
            seen.done = shot is None or time.monotonic() - seen.first > look
            if shot:
                seen.shots.append((time.monotonic() - seen.first, shot))
    run.kill()
    run.wait()
    return [w for w in windows.values() if w.shots]
