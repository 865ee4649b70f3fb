"""What the end-to-end tests share: the demo content, the local cloud, and a
program folder with a copy of the real launcher binary (env TALVANE_BIN)."""

import base64
import json
import os
import select
import shutil
import struct
import subprocess
import tempfile
import time

PY = "/usr/bin/python3"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAKE_CONTENT = os.path.join(SOURCE, "tools", "demo", "make_content.py")
CLOUD = os.path.join(SOURCE, "tools", "cloud", "cloud.py")
SCRAMBLE_KEY = b"5203718"


def launcher_binary():
    path = os.environ.get("TALVANE_BIN", "")
    if os.path.isdir(path):
        path = os.path.join(path, "Talvane")
    return path


def scramble(plain):
    """The settings file's password form, written independently of the launcher."""
    wrapped = b"a" + plain.encode("latin-1") + b"a"
    mixed = bytes(c ^ SCRAMBLE_KEY[i % len(SCRAMBLE_KEY)] for i, c in enumerate(wrapped))
    return base64.a85encode(mixed).decode("ascii") + "~>"


def unscramble(stored):
    assert stored.endswith("~>"), stored
    text = stored[:-2]
    mixed = base64.a85decode(text.encode("ascii"))
    wrapped = bytes(c ^ SCRAMBLE_KEY[i % len(SCRAMBLE_KEY)] for i, c in enumerate(mixed))
    return wrapped[1:-1].decode("latin-1")


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def read_ini(path):
    """section -> {key: value}, keys and sections lower-cased, as the launcher reads them."""
    result, section = {}, None
    if not os.path.exists(path):
        return result
    with open(path, encoding="latin-1") as f:
        for raw in f:
            line = raw.strip()
            if line.startswith("[") and line.endswith("]"):
                section = result.setdefault(line[1:-1].strip().lower(), {})
            elif "=" in line and section is not None:
                key, value = line.split("=", 1)
                section[key.strip().lower()] = value.strip()
    return result


def bitmap(width, height):
    """A 24-bit Windows bitmap of the given size."""
    row = (width * 3 + 3) // 4 * 4
    pixels = b"\x40" * (row * height)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


class Content:
    """Demo content generated once into a temporary folder."""

    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="talvane-e2e-content-")
        subprocess.run([PY, MAKE_CONTENT, "--out", self.tmp, "--launcher", launcher_binary()],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(self.tmp, "content.json"), encoding="utf-8") as f:
            self.info = json.load(f)
        self.web = self.info["web"]

    def set_index(self, version, url=""):
        subprocess.run([PY, MAKE_CONTENT, "update-index", "--web", self.web, "--version", version,
                        "--url", url], check=True)

    def cleanup(self):
        shutil.rmtree(self.tmp, ignore_errors=True)


class Cloud:
    """tools/cloud/cloud.py serve, stopped by closing its standard input."""

    def __init__(self, content):
        args = [PY, CLOUD, "serve", "--repo", content.info["repo"], "--redist",
                content.info["redist"], "--web", content.web]
        for user in content.info["cloud_users"]:
            args += ["--user", user]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 30)
        line = self.proc.stdout.readline() if ready else b""
        if not line:
            self.stop()
            raise RuntimeError("the demo cloud did not start")
        self.endpoints = json.loads(line)

    def stop(self):
        if self.proc.stdin:
            self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        if self.proc.stdout:
            self.proc.stdout.close()


class Program:
    """A program folder with a copy of the launcher, its settings file and a
    private system drive, home and logs."""

    def __init__(self, cloud, default_config=None, default_path="\\Tools", credentials=None):
        self.root = tempfile.mkdtemp(prefix="talvane-e2e-")
        self.prog = os.path.join(self.root, "prog")
        self.exe = os.path.join(self.prog, "Talvane")
        self.ini = os.path.join(self.prog, "Talvane.ini")
        self.drive = os.path.join(self.root, "drive")
        self.tool = os.path.join(self.drive, "Tools", "tekmo")
        self.log = os.path.join(self.root, "talvane.log")
        self.run_log = os.path.join(self.root, "tekmo-run.log")
        for d in (self.prog, self.drive, os.path.join(self.root, "home")):
            os.makedirs(d)
        shutil.copy2(launcher_binary(), self.exe)
        e = cloud.endpoints
        lines = ["[Endpoints]", "RepositoryHost=" + e["repository"], "RedistHost=" + e["redist"],
                 "UpdatesURL=%s/VelmoraUpdates.zip" % e["http"],
                 "SubscriberURL=%s/Subscribers/" % e["http"], "SevenZipMirrorURL=", "", "[TekmoCloud]"]
        if default_config is not None:
            lines.append("DefaultConfig=" + default_config)
        if default_path is not None:
            lines.append("DefaultPath=" + default_path)
        if credentials:
            user, password, zip_password = credentials
            lines += ["UserName=" + user, "Password=" + scramble(password),
                      "ZipPassword=" + scramble(zip_password)]
        with open(self.ini, "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "TALVANE_UI", "TEKMO_RUN_LOG")}
        env.update({"TALVANE_UI": "console", "SYSTEMDRIVE": self.drive,
                    "HOME": os.path.join(self.root, "home"), "TALVANE_LOG": self.log,
                    "TEKMO_RUN_LOG": self.run_log})
        env.update(extra)
        return env

    def run(self, args=(), commands="", timeout=120, **env):
        return subprocess.run([self.exe] + list(args), input=commands, capture_output=True,
                              text=True, env=self.env(**env), timeout=timeout, cwd=self.root)

    def settings(self):
        return read_ini(self.ini).get("tekmocloud", {})

    def started_lines(self, timeout=20.0):
        """Start lines in the run log; waits (bounded) for one, the tool runs detached."""
        deadline = time.monotonic() + timeout
        while True:
            lines = [l for l in read_text(self.run_log).splitlines() if " started with arguments: " in l]
            if lines or time.monotonic() > deadline:
                return lines
            time.sleep(0.05)

    def log_text(self):
        return read_text(self.log)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


def message_boxes(stdout):
    """(title, icon, text) of every message box block in the console output."""
    boxes, current = [], None
    for line in stdout.splitlines():
        if current is None and line.startswith("+-- "):
            head = line[4:].rstrip("-").rstrip()
            icon = ""
            for word in ("critical", "exclamation", "information"):
                if head.endswith(" (%s)" % word):
                    head, icon = head[: -len(word) - 3], word
            current = (head, icon, [])
        elif current is not None and line.startswith("|"):
            current[2].append(line[2:])
        elif current is not None and line.startswith("+---"):
            boxes.append((current[0], current[1], "\n".join(current[2])))
            current = None
    return boxes
