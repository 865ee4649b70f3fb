"""A deploy killed at any moment leaves the tool tree wholly the old or wholly the new version,
before any further run; the next run finishes it and leaves nothing behind. The package holds
3,000 files and ships Config/Tekmo.ini, which the configuration set replaces. Kills come at
random moments (TALVANE_KILLS of them, default 12) and, through strace, at each step of the
tree's exchange; a self-update killed at each of its renames always leaves a program."""

import os
import random
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from launcher_env import PackageTest, require  # noqa: E402

FILES = 3000
STRACE = shutil.which("strace")


def tree(folder):
    """Each file's bytes; of the deploy record, what names the package (file times differ
    from one deploy of the same version to the next)."""
    files = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    if "Talvane.deployed" in files:
        files["Talvane.deployed"] = [l for l in files["Talvane.deployed"].splitlines() if not l.startswith(b"file ")]
    return files


def main_thread_calls(lines):
    """(syscall, its count so far, the call) for the traced calls of the main thread, the one
    strace follows without -f; `when=` counts each syscall on its own."""
    counts, calls = {}, []
    for line in lines:
        m = re.match(r"(\w+)\(", line)
        if m:
            counts[m.group(1)] = counts.get(m.group(1), 0) + 1
            calls.append((m.group(1), counts[m.group(1)], line))
    return calls


def traced(p, options, args=("sfx",), commands=None):
    """The launcher's run under strace, its main thread only (no -f): the trace's lines."""
    subprocess.run([STRACE, "-qq", "-o", p.path("strace.log")] + [a for o in options for a in ("-e", o)]
                   + ["--", p.exe] + list(args), input=commands, text=True, env=p.environment(),
                   cwd=p.root, capture_output=True, timeout=120)
    with open(p.path("strace.log")) as f:
        return f.read().splitlines()


def version(n, files):
    """Entries of version n: nearly half the files change between versions and 200 are added."""
    entries = {"Config/Tekmo.ini": b"[Tekmo]\nfrom=package %d\n" % n}
    for i in range(files + (200 if n == 2 else 0)):
        changes = i % 2 == 0 and i < files - 200
        entries["lib/d%02d/f%04d.txt" % (i % 40, i)] = b"file %d of version %d\n" % (i, n if changes else 1) * 4
    return entries


class TwoVersions(PackageTest):
    """Version 1 deployed and kept aside, version 2 deployed over it and timed."""
    files = FILES

    def setUp(self):
        super().setUp()
        self.parent = os.path.dirname(self.p.tool)
        self.pristine = self.p.path("pristine")
        self.put(1)
        self.sfx()
        self.old = tree(self.p.tool)
        shutil.copytree(self.p.tool, self.pristine, symlinks=True)
        self.put(2)
        started = time.monotonic()
        self.sfx()
        self.seconds = time.monotonic() - started
        self.new = tree(self.p.tool)
        self.assertNotEqual(self.old, self.new)

    def put(self, n):
        self.repack(lambda info, data: data, version(n, self.files))
        stamp = os.path.getmtime(self.original) + 120 * n
        os.utime(self.package, (stamp, stamp))

    def restore_old(self):
        """The old tree as a complete deploy left it, nothing of a cut-off run beside it."""
        journal = self.p.path("prog/Talvane.deploying")
        subprocess.run(["rm", "-rf", journal] + [os.path.join(self.parent, n) for n in os.listdir(self.parent)],
                       check=True)
        subprocess.run(["cp", "-a", self.pristine, self.p.tool], check=True)

    def which(self):
        now = tree(self.p.tool)
        return "old" if now == self.old else "new" if now == self.new else "mixed"

    def assert_next_run_finishes(self):
        self.sfx()
        self.assertEqual(self.which(), "new")
        self.assertEqual(os.listdir(self.parent), ["tekmo"])
        self.assertEqual([n for n in os.listdir(self.p.prog) if "partial" in n or "deploying" in n], [])


class KilledDeploy(TwoVersions):
    def test_random_kills_leave_the_old_or_the_new_tree(self):
        kills = int(os.environ.get("TALVANE_KILLS", "12"))
        seen = {"old": 0, "new": 0, "mixed": 0}
        for _ in range(kills):
            self.restore_old()
            run = self.p.start(["sfx"])
            time.sleep(random.uniform(0, self.seconds))
            run.kill()
            run.wait()
            seen[self.which()] += 1
        print("\n%d kills over %.2f s runs: %s" % (kills, self.seconds, seen), file=sys.stderr)
        self.assertEqual(seen["mixed"], 0)
        self.assert_next_run_finishes()


class KilledExchange(TwoVersions):
    """The exchange's steps are the same for any size: a smaller tree keeps each run short."""
    files = 400

    def test_a_kill_at_each_step_of_the_exchange(self):
        require(self, STRACE, "strace is not installed")
        steps = self.exchange_steps()
        self.assertGreaterEqual(len(steps), 6, steps)
        for call, when, shown in steps:
            with self.subTest(shown):
                self.restore_old()
                traced(self.p, ["trace=" + call, "inject=%s:signal=KILL:when=%d" % (call, when)])
                self.assertIn(self.which(), ("old", "new"))
                self.assert_next_run_finishes()

    def exchange_steps(self):
        """(syscall, its count in the main thread, the call) for each step that writes the journal,
        the record or the exchange, for entries into the stage and for what follows the exchange."""
        self.restore_old()
        calls = main_thread_calls(traced(self.p, ["trace=rename,renameat,renameat2,unlink,unlinkat"]))
        journal = [i for i, c in enumerate(calls) if "Talvane.deploying" in c[2]]
        exchange = next(i for i, c in enumerate(calls) if c[0] == "renameat2")
        # The first entry into the stage, one half-way through, the first removal after the exchange.
        picked = {journal[0] + 1, (journal[0] + journal[1]) // 2, exchange + 1}
        picked |= {i for i, c in enumerate(calls) if "Talvane.deployed" in c[2] or i in journal}
        picked.add(exchange)
        return [calls[i] for i in sorted(picked)]


class KilledSelfUpdate(PackageTest):
    def test_a_kill_at_each_rename_of_the_update_leaves_a_program(self):
        require(self, STRACE, "strace is not installed")
        self.content.set_index("9.9.9", self.content.endpoints["http"] + "/Talvane.zip")
        self.addCleanup(self.content.set_index, self.content.info["program_version"])
        program, pristine, update = self.p.exe, self.p.path("Talvane.kept"), "select Office\nupdate\n"
        shutil.copy2(program, pristine)
        calls = main_thread_calls(traced(self.p, ["trace=rename,link"], (), update))
        steps = [c for c in calls if "Talvane" in c[2]]
        self.assertGreaterEqual(len(steps), 2, calls)
        for call, when, shown in steps:
            with self.subTest(shown):
                subprocess.run(["rm", "-rf"] + [os.path.join(self.p.prog, n) for n in os.listdir(self.p.prog)
                                                 if n != "Talvane.ini"], check=True)
                shutil.copy2(pristine, program)
                traced(self.p, ["trace=" + call, "inject=%s:signal=KILL:when=%d" % (call, when)], (), update)
                self.assertTrue(os.access(program, os.X_OK), os.listdir(self.p.prog))
                self.assertEqual(subprocess.run([program, "--help"], capture_output=True,
                                                env=self.p.environment()).returncode, 0)
