"""What the end-to-end tests share: the demo content, the local cloud, and a
program folder with a copy of the real launcher binary (env TALVANE_BIN)."""

import base64
import configparser
import json
import os
import pathlib
import re
import select
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile

PY = "/usr/bin/python3"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAKE_CONTENT = os.path.join(SOURCE, "tools", "demo", "make_content.py")
BIN = os.environ.get("TALVANE_BIN", "")
BIN = os.path.join(BIN, "Talvane") if os.path.isdir(BIN) else BIN
KEY = b"5203718"


def in_ci():
    return os.environ.get("TALVANE_CI", "0") not in ("", "0")


def require(test, available, why):
    """Skips a test that lacks a facility on a developer's machine; in CI (TALVANE_CI
    set) the missing facility is a failure."""
    if available:
        return
    if in_ci():
        test.fail("CI lacks what it needs: " + why)
    test.skipTest(why)


def _xor(data):
    return bytes(c ^ KEY[i % len(KEY)] for i, c in enumerate(data))


def scramble(plain):
    """The settings file's password form, written independently of the launcher."""
    return base64.a85encode(_xor(b"a" + plain.encode("latin-1") + b"a")).decode() + "~>"


def unscramble(stored):
    assert stored.endswith("~>"), stored
    return _xor(base64.a85decode(stored[:-2].encode()))[1:-1].decode("latin-1")


def read_text(path):
    return pathlib.Path(path).read_text("utf-8", "replace") if os.path.exists(path) else ""


def read_ini(path):
    """section -> {key: value}, keys and sections lower-cased, as the launcher reads them."""
    ini = configparser.ConfigParser(interpolation=None, strict=False, delimiters=("=",))
    ini.read(path, encoding="latin-1")
    return {s.lower(): dict(ini[s]) for s in ini.sections()}


def message_boxes(stdout):
    """(title, icon, text) of every message box block in the console output."""
    found = re.findall(r"^\+-- (.*?)(?: \((critical|exclamation|information)\))? -*\n((?:\|.*\n)*)",
                       stdout, re.M)
    return [(t, i, "\n".join(l[2:] for l in body.splitlines())) for t, i, body in found]


def bitmap(width, height):
    """A 24-bit Windows bitmap of the given size."""
    pixels = b"\x40" * ((width * 3 + 3) // 4 * 4 * height)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54) + info + pixels


class Cloud:
    """tools/cloud/cloud.py serving `info`'s folders (stopped by closing its standard input):
    pyftpdlib, or Debian's vsftpd or ProFTPD; `full` servers refuse every sign-in; `tls` ones
    take only AUTH TLS sign-ins (their CA file is endpoints["ca"])."""

    def __init__(self, info, ftpd="pyftpdlib", full=False, log=None, tls=False, rate=0, refuse=(),
                 busy_while=None):
        self.info = info
        args = [PY, os.path.join(SOURCE, "tools", "cloud", "cloud.py"), "serve", "--ftpd", ftpd]
        args += (["--log", log] if log else []) + ["--tls"] * tls + (["--rate", str(rate)] if rate else [])
        args += [a for command in refuse for a in ("--refuse", command)]
        args += ["--busy-while", busy_while] if busy_while else []
        for flag in ("repo", "redist", "web"):
            args += ["--" + flag, info[flag]]
        for user in info["cloud_users"]:
            args += ["--user", user]
        self.proc = subprocess.Popen(args + ["--full"] * full, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.proc.stdout.readline() if select.select([self.proc.stdout], [], [], 60)[0] else b""
        self.endpoints = json.loads(line) if line else self.stop()

    def stop(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.proc.stdout.close()


class Content:
    """Demo content generated into a temporary folder, served by a pyftpdlib Cloud."""

    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="talvane-e2e-content-")
        subprocess.run([PY, MAKE_CONTENT, "--out", self.tmp, "--launcher", BIN], check=True,
                       stdout=subprocess.DEVNULL)
        self.info = json.loads(read_text(os.path.join(self.tmp, "content.json")))
        self.cloud = Cloud(self.info)
        if not self.cloud.endpoints:
            shutil.rmtree(self.tmp, ignore_errors=True)
            raise RuntimeError("the demo cloud did not start")
        self.endpoints = self.cloud.endpoints

    def set_index(self, version, url=""):
        subprocess.run([PY, MAKE_CONTENT, "update-index", "--web", self.info["web"], "--version",
                        version, "--url", url], check=True)

    def stop(self):
        self.cloud.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)


class Program:
    """A program folder with a copy of the launcher, its settings file and a
    private system drive, home and logs; `env` is added to each run's environment."""

    def __init__(self, content, default_config=None, default_path="\\Tools", credentials=None):
        self.content, self.env = content, {}
        self.root = tempfile.mkdtemp(prefix="talvane-e2e-")
        self.prog, self.drive = os.path.join(self.root, "prog"), os.path.join(self.root, "drive")
        self.exe, self.ini = os.path.join(self.prog, "Talvane"), os.path.join(self.prog, "Talvane.ini")
        self.tool = os.path.join(self.drive, "Tools", "tekmo")
        for d in (self.prog, self.drive, os.path.join(self.root, "home")):
            os.makedirs(d)
        shutil.copy2(BIN, self.exe)
        e = content.endpoints
        lines = ["[Endpoints]", "RepositoryHost=" + e["repository"], "RedistHost=" + e["redist"],
                 "UpdatesURL=%s/VelmoraUpdates.zip" % e["http"],
                 "SubscriberURL=%s/Subscribers/" % e["http"], "SevenZipMirrorURL=", "[TekmoCloud]"]
        lines += ["DefaultConfig=" + default_config] if default_config is not None else []
        lines += ["DefaultPath=" + default_path] if default_path is not None else []
        if credentials:
            lines += ["UserName=" + credentials[0], "Password=" + scramble(credentials[1]),
                      "ZipPassword=" + scramble(credentials[2])]
        with open(self.ini, "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")

    def environment(self):
        env = dict({k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")},
                   **self.env)
        env.update(TALVANE_UI="console", SYSTEMDRIVE=self.drive, HOME=os.path.join(self.root, "home"),
                   TALVANE_LOG=self.path("talvane.log"), TEKMO_RUN_LOG=self.path("tekmo-run.log"))
        return env

    def run(self, args=(), commands=""):
        return subprocess.run([self.exe] + list(args), input=commands, capture_output=True,
                              text=True, env=self.environment(), timeout=120, cwd=self.root)

    def start(self, args=()):
        """A run left to the caller (a Popen), its output discarded."""
        return subprocess.Popen([self.exe] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=self.environment(), cwd=self.root)

    def add_endpoints(self, lines):
        """`lines` at the top of the settings file's [Endpoints] section."""
        with open(self.ini, encoding="latin-1") as f:
            text = f.read().replace("[Endpoints]\n", "[Endpoints]\n" + lines)
        with open(self.ini, "w", encoding="latin-1") as f:
            f.write(text)

    def set_setting(self, key, value, section="Endpoints"):
        with open(self.ini, encoding="latin-1") as f:
            text = f.read()
        line = "%s=%s" % (key, value)
        if re.search(r"^%s=.*$" % key, text, re.M):
            text = re.sub(r"^%s=.*$" % key, lambda _: line, text, flags=re.M)
        elif "[%s]" % section in text:
            text = text.replace("[%s]\n" % section, "[%s]\n%s\n" % (section, line))
        else:
            text += "[%s]\n%s\n" % (section, line)
        with open(self.ini, "w", encoding="latin-1") as f:
            f.write(text)

    def path(self, name):
        return os.path.join(self.root, name)

    def settings(self):
        return read_ini(self.ini).get("tekmocloud", {})

    def wait_for(self, done, seconds=30):
        """Bounded wait for what the detached tool or new program does; returns done()."""
        deadline = time.monotonic() + seconds
        while not done() and time.monotonic() < deadline:
            time.sleep(0.05)
        return done()

    def started_lines(self, seconds=30):
        return self.wait_for(lambda: [l for l in read_text(self.path("tekmo-run.log")).splitlines()
                                      if " started with arguments: " in l], seconds)

    def log_text(self):
        return read_text(self.path("talvane.log"))


class CloudTest(unittest.TestCase):
    """The demo cloud for the test class; program() makes a program folder removed afterwards."""

    @classmethod
    def setUpClass(cls):
        if not os.access(BIN, os.X_OK):
            if in_ci():
                raise AssertionError("CI lacks what it needs: TALVANE_BIN names no launcher")
            raise unittest.SkipTest("TALVANE_BIN does not name the launcher binary")
        cls.content = Content()

    @classmethod
    def tearDownClass(cls):
        cls.content.stop()

    def program(self, stored=True, cloud=None, **kwargs):
        """On the class's cloud, or on `cloud`."""
        sub = self.content.info["subscriber"]
        self.user, self.password, self.zip_password = sub["user"], sub["password"], sub["zip_password"]
        p = Program(cloud or self.content, credentials=(self.user, self.password, self.zip_password)
                    if stored else None, **kwargs)
        self.addCleanup(shutil.rmtree, p.root, True)
        return p


class PackageTest(CloudTest):
    """A private cloud (with a server log, and data connections held to RATE bytes a second when
    set) whose tekmoUpdate.zip the test may rewrite, and a program folder with a stored set."""
    RATE = 0
    REFUSE = ()  # commands the redistribution host answers with 502

    def setUp(self):
        self.log = tempfile.mktemp(prefix="talvane-ftp-log-")
        self.addCleanup(lambda: os.path.exists(self.log) and os.remove(self.log))
        self.busy = self.log + ".busy"  # while it exists the redistribution host turns all away
        self.cloud = Cloud(self.content.info, log=self.log, rate=self.RATE, refuse=self.REFUSE,
                           busy_while=self.busy)
        self.addCleanup(self.cloud.stop)
        self.p = self.program(cloud=self.cloud, default_config="Office")
        self.package = os.path.join(self.content.info["redist"], "Redist", "tekmoUpdate.zip")
        self.original = self.package + ".kept"
        shutil.copy2(self.package, self.original)
        self.addCleanup(os.replace, self.original, self.package)

    def sfx(self):
        """One unattended run: the package bytes the server sent for it."""
        before = self.package_bytes()
        result = self.p.run(["sfx"])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return self.package_bytes() - before

    def package_bytes(self):
        """What the server sent of tekmoUpdate.zip so far, transfers cut off included."""
        return sum(int(n) for n in re.findall(r"RETR \S*tekmoUpdate\.zip completed=[01] bytes=(\d+)", read_text(self.log)))

    def assert_tree_is_the_package(self):
        with zipfile.ZipFile(self.package) as z:
            for info in (i for i in z.infolist() if not i.is_dir()):
                tree_file = pathlib.Path(self.p.tool, info.filename)
                self.assertEqual(tree_file.read_bytes(), z.read(info), info.filename)

    def repack(self, alter, extra=None):
        """The kept package with each entry's data through alter(info, data), all stored, and
        the entries of `extra` ({name: data}) added."""
        with zipfile.ZipFile(self.original) as src, zipfile.ZipFile(self.package + ".new", "w") as dst:
            for info in src.infolist():
                dst.writestr(info, alter(info, src.read(info)), zipfile.ZIP_STORED)
            for name, data in (extra or {}).items():
                dst.writestr(name, data)
        os.replace(self.package + ".new", self.package)
