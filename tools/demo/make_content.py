#!/usr/bin/python3
"""Builds the demo cloud content: FTP trees for the repository and the
redistribution host, the web area, and a JSON description of what is where.

    make_content.py --out DIR [--launcher PATH]
        DIR/repo      repository root (built-in account) with 7za.zip and the
                      subscriber homes below subscribers/
        DIR/redist    redistribution root (built-in account): Redist/*.zip
        DIR/web       web root: VelmoraUpdates.zip, Subscribers/<user>/<App>/...
        DIR/content.json
      With --launcher the web root also gets Talvane.zip (that binary, under its name).

    make_content.py update-index --web DIR --version X.Y.Z [--url URL]
                                 [--package-from PATH]
        Rewrites DIR/VelmoraUpdates.zip; with --package-from also DIR/Talvane.zip.

    make_content.py make-set --out FILE --name NAME [--password PW] [--stored]
                             [--no-config] [--inner-zip]
        One configuration-set archive, for tests that need a variant.

Everything is generated: nothing binary lives in the source tree. Archives are
made with Python's zipfile (Unix permission bits kept) and /usr/bin/7zz.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

SEVEN_ZIP = "/usr/bin/7zz"
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_ROOT = os.path.dirname(os.path.dirname(HERE))

SUBSCRIBER = {
    "user": "tech1",
    "password": "Cl0ud-tech1",
    "zip_password": "kit 7749 blue",  # a blank on purpose: the command line must quote it
}
SETS = ["Office", "Field Team", "Workshop"]
# Accounts for the catalogue's edge cases (same password as the subscriber).
EXTRA_ACCOUNTS = {
    # names with ".7z" inside and without extension
    "edge1": {"entries": ["a.7z.b.7z", "Notes"]},
    # /Tekmo/ConfigSets exists but is empty -> "[Pre-Conversion]"
    "empty1": {"entries": []},
    # no /Tekmo/ConfigSets at all: Tekmo_Config.7z in the login folder
    "legacy1": {"legacy": True},
}
LATEST_TEKMO = "2.2.0"
PREVIOUS_TEKMO = ["2.0.1", "2.1.0"]
INSTALLERS = ["Pellam", "Harlo", "Quorra", "Sorvik", "Umbrin"]
DEFS_FILES = {"core.def": "definitions core v42\n", "extra/more.def": "definitions extra v42\n"}

TEKMO_SCRIPT = """#!/bin/sh
# Stand-in for the Tekmo tool: reports how it was started and what it finds.
here=$(cd "$(dirname "$0")" && pwd)
line="Tekmo {version} started with arguments: [$*]"
echo "$line"
echo "Tree beside Tekmo ($here):"
tree=$(cd "$here" && find . -mindepth 1 | LC_ALL=C sort | sed 's|^\\./|  |')
echo "$tree"
if [ -n "$TEKMO_RUN_LOG" ]; then
  {{ echo "$line"; echo "Tree beside Tekmo ($here):"; echo "$tree"; }} >> "$TEKMO_RUN_LOG"
fi
exit 0
"""

SETUP_SCRIPT = """#!/bin/sh
# Stand-in for the {app} setup program.
line="{app}Setup started with arguments: [$*]"
echo "$line"
if [ -n "$TEKMO_RUN_LOG" ]; then
  echo "$line" >> "$TEKMO_RUN_LOG"
fi
exit 0
"""


def program_version():
    try:
        with open(os.path.join(SOURCE_ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
            m = re.search(r"project\(\s*Talvane\s+VERSION\s+(\d+\.\d+\.\d+)", f.read())
            if m:
                return m.group(1)
    except OSError:
        pass
    return "2.3.4"


def write_text(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    os.chmod(path, mode)


def zip_add(zf, arcname, data, mode=0o644):
    """Adds one file entry with Unix permission bits (host 3)."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    info = zipfile.ZipInfo(arcname, date_time=(2024, 5, 17, 12, 0, 0))
    info.create_system = 3
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    zf.writestr(info, data)


def zip_add_dir(zf, arcname):
    info = zipfile.ZipInfo(arcname.rstrip("/") + "/", date_time=(2024, 5, 17, 12, 0, 0))
    info.create_system = 3
    info.external_attr = ((0o040000 | 0o755) << 16) | 0x10
    zf.writestr(info, b"")


# For the Windows build's tests: Windows programs in place of the shell scripts
# (set by --windows STANDIN SEVENZIP). The stand-in takes the name it reports
# from a line appended to its own file.
WINDOWS = {}


def standin(label):
    with open(WINDOWS["standin"], "rb") as f:
        return f.read() + b"\n#standin:" + label.encode() + b"\n"


def make_tekmo_package(path, version):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as zf:
        if WINDOWS:
            zip_add(zf, "Tekmo.exe", standin("Tekmo " + version), 0o755)
        else:
            zip_add(zf, "Tekmo", TEKMO_SCRIPT.format(version=version), 0o755)
        zip_add(zf, "Tekmo.version", version + "\n")
        zip_add_dir(zf, "Config")
        # Not Tekmo.ini: only a deployed configuration set may provide that.
        zip_add(zf, "Config/Package.ini", "[Package]\nVersion=%s\n" % version)
        zip_add(zf, "Modules/Core/core.txt", "Tekmo core module %s\n" % version)
        zip_add_dir(zf, "3rd Party Tools/Ketarin")
        zip_add(zf, "3rd Party Tools/Ketarin/Ketarin.txt", "Ketarin placeholder\n")
        zip_add(zf, "Docs/readme.txt", "Tekmo %s documentation\n" % version)


def run_7zz(args, cwd):
    subprocess.run([SEVEN_ZIP] + args, cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_config_set(path, name, password, stored=False, with_config=True, inner_zip=False):
    """A configuration set: Config/Tekmo.ini, Scripts/, Defs/, Ketarin/*.db + a non-.db file."""
    path = os.path.abspath(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.remove(path)
    with tempfile.TemporaryDirectory() as stage:
        files = {
            "Scripts/startup.cmd": "echo configuration set %s\n" % name,
            "Scripts/tasks/cleanup.cmd": "echo cleanup for %s\n" % name,
            "Defs/set.def": "definitions of set %s\n" % name,
            "Ketarin/jobs.db": "ketarin jobs of %s\n" % name,
            "Ketarin/settings.db": "ketarin settings of %s\n" % name,
            "Ketarin/notes.txt": "not a database: stays behind\n",
        }
        if with_config:
            files["Config/Tekmo.ini"] = "[Tekmo]\nConfigSet=%s\n" % name
            files["Config/Options.ini"] = "[Options]\nSet=%s\n" % name
        if inner_zip:
            inner = os.path.join(stage, "Tekmo_Config.zip")
            with zipfile.ZipFile(inner, "w") as zf:
                for rel, text in files.items():
                    zip_add(zf, rel, text)
            members = ["Tekmo_Config.zip"]
        else:
            for rel, text in files.items():
                write_text(os.path.join(stage, rel), text)
            members = sorted({rel.split("/")[0] for rel in files})
        args = ["a", "-t7z", path] + members
        if password:
            args.insert(2, "-p" + password)
            if not stored:
                args.insert(3, "-mhe=on")
        if stored:
            args.insert(2, "-mx=0")
        run_7zz(args, stage)


def make_defs(path):
    with tempfile.TemporaryDirectory() as stage:
        for rel, text in DEFS_FILES.items():
            write_text(os.path.join(stage, rel), text)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run_7zz(["a", "-t7z", os.path.abspath(path), "core.def", "extra"], stage)


def make_seven_zip_package(path):
    with open(WINDOWS.get("7zip", SEVEN_ZIP), "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path, "w") as zf:
        zip_add(zf, "7za.exe" if WINDOWS else "7za", data, 0o755)
        zip_add(zf, "readme.txt", "7-Zip command-line program (copy of /usr/bin/7zz)\n")


def write_index(web, version, url):
    os.makedirs(web, exist_ok=True)
    ini = "[TekmoTalvane]\r\nCurrentVersion=%s\r\nDownloadURL=%s\r\n" % (version, url)
    with zipfile.ZipFile(os.path.join(web, "VelmoraUpdates.zip"), "w") as zf:
        zip_add(zf, "VelmoraUpdates.ini", ini)


def write_update_package(web, launcher):
    with open(launcher, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(os.path.join(web, "Talvane.zip"), "w") as zf:
        zip_add(zf, os.path.basename(launcher), data, 0o755)  # Talvane or Talvane.exe
        zip_add(zf, "Talvane-ReadMe.txt", b"Talvane 9.9.9: what is new.\n", 0o644)


def make_all(out, launcher):
    out = os.path.abspath(out)
    for sub in ("repo", "redist", "web"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
    repo, redist, web = (os.path.join(out, s) for s in ("repo", "redist", "web"))
    os.makedirs(repo)
    make_seven_zip_package(os.path.join(repo, "7za.zip"))

    home = os.path.join(repo, "subscribers", SUBSCRIBER["user"])
    for name in SETS:
        make_config_set(os.path.join(home, "Tekmo", "ConfigSets", name + ".7z"), name,
                        SUBSCRIBER["zip_password"])
    make_defs(os.path.join(home, "Tekmo", "Defs", "tekmo_Defs.7z"))

    extra = {}
    for account, what in EXTRA_ACCOUNTS.items():
        ahome = os.path.join(repo, "subscribers", account)
        if what.get("legacy"):
            make_config_set(os.path.join(ahome, "Tekmo_Config.7z"), "Tekmo_Config",
                            SUBSCRIBER["zip_password"])
        else:
            sets_dir = os.path.join(ahome, "Tekmo", "ConfigSets")
            os.makedirs(sets_dir, exist_ok=True)
            for entry in what["entries"]:
                make_config_set(os.path.join(sets_dir, entry), entry,
                                SUBSCRIBER["zip_password"])
            make_defs(os.path.join(ahome, "Tekmo", "Defs", "tekmo_Defs.7z"))
        extra[account] = {"password": SUBSCRIBER["password"], "home": ahome,
                          "entries": what.get("entries", ["Tekmo_Config.7z"])}

    make_tekmo_package(os.path.join(redist, "Redist", "tekmoUpdate.zip"), LATEST_TEKMO)
    for v in PREVIOUS_TEKMO:
        make_tekmo_package(os.path.join(redist, "Redist", "Tekmo_%s.zip" % v), v)

    for app in INSTALLERS:
        setup = os.path.join(web, "Subscribers", SUBSCRIBER["user"], app, app + "Setup.exe")
        write_text(setup, SETUP_SCRIPT.format(app=app), 0o755)
        if WINDOWS:
            with open(setup, "wb") as f:
                f.write(standin(app + "Setup"))
    version = program_version()
    write_index(web, version, "")
    if launcher:
        write_update_package(web, launcher)

    content = {
        "subscriber": dict(SUBSCRIBER, home=home),
        "sets": SETS,
        "extra_accounts": extra,
        "defs": sorted(DEFS_FILES),
        "tekmo": {"latest": LATEST_TEKMO,
                  "previous": ["Tekmo_%s.zip" % v for v in PREVIOUS_TEKMO],
                  "started_line": "Tekmo <version> started with arguments: [<args>]"},
        "installers": INSTALLERS,
        "program_version": version,
        "repo": repo,
        "redist": redist,
        "web": web,
        "cloud_users": ["%s:%s:%s" % (SUBSCRIBER["user"], SUBSCRIBER["password"], home)]
        + ["%s:%s:%s" % (a, e["password"], e["home"]) for a, e in extra.items()],
    }
    with open(os.path.join(out, "content.json"), "w", encoding="utf-8") as f:
        json.dump(content, f, indent=2)
        f.write("\n")
    return content


def main(argv):
    if argv and argv[0] == "update-index":
        p = argparse.ArgumentParser(prog="make_content.py update-index")
        p.add_argument("--web", required=True)
        p.add_argument("--version", required=True)
        p.add_argument("--url", default="")
        p.add_argument("--package-from")
        a = p.parse_args(argv[1:])
        write_index(a.web, a.version, a.url)
        if a.package_from:
            write_update_package(a.web, a.package_from)
        return 0
    if argv and argv[0] == "make-set":
        p = argparse.ArgumentParser(prog="make_content.py make-set")
        p.add_argument("--out", required=True)
        p.add_argument("--name", required=True)
        p.add_argument("--password", default="")
        p.add_argument("--stored", action="store_true",
                       help="uncompressed entries, headers not encrypted")
        p.add_argument("--no-config", action="store_true")
        p.add_argument("--inner-zip", action="store_true",
                       help="wrap the content in Tekmo_Config.zip")
        a = p.parse_args(argv[1:])
        make_config_set(a.out, a.name, a.password, a.stored, not a.no_config, a.inner_zip)
        return 0
    p = argparse.ArgumentParser(prog="make_content.py")
    p.add_argument("--out", required=True)
    p.add_argument("--launcher")
    p.add_argument("--windows", nargs=2, metavar=("STANDIN", "SEVENZIP"),
                   help="Windows programs: the stand-in exe and 7zz.exe")
    a = p.parse_args(argv)
    if a.windows:
        WINDOWS.update(standin=a.windows[0], **{"7zip": a.windows[1]})
    make_all(a.out, a.launcher)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
