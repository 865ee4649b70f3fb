#!/usr/bin/env python3
"""Mutation pass: applies one realistic fault at a time in a separate git worktree,
rebuilds the test program that covers it, runs it and records whether a test turned
red (killed) or not; a mutant that program misses then meets the rest of the suite
that can reach its file (other programs and the end-to-end runs, through ctest), and
only one that passes there too survived. Both figures are reported.

    tools/mutate.py [--worktree build/mutation] [--refresh] [--only NAME ...] [--markdown FILE]
    tools/mutate.py --random [N] [--seed S] [--files src/...]
    tools/mutate.py --random --recheck FILE.md

--recheck runs again only the survivors a --markdown report of a random run lists (found by
file, original and mutated line, wherever the line is now), so that tests written for them
can be measured without drawing the whole sample again.

Without --random it runs the regression list below. With --random it draws N mutants
(default 60) that compile from everything tools/mutation_rules.py generates over the
files that decide safety; the seed is printed so a run can be repeated. A survivor
listed in tools/mutants_equivalent.txt (file, original line, mutated line, reason;
tab separated, lines stripped) is reported as equivalent, not survived.

--refresh moves the worktree to the repository's HEAD and copies the working copy's
tests/ on top, so uncommitted tests are measured too. The worktree's own sources are
never those other people build from.
"""
import argparse
import math
import os
import random
import re
import shutil
import subprocess
import sys
import time

import mutation_rules

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, file, old text, new text, test program); an old text starting with "re:" is a
# regular expression (for code whose indentation others are changing), the new text its
# replacement. The program "e2e" is the launcher binary under the end-to-end exit-code table.
MUTANTS = [
    ("zip-stored-crc", "src/zip/zip_inflate.cpp",
     "if (checkCrc && crc != expectedCrc)", "if (false && crc != expectedCrc)", "test_zip"),
    ("zip-deflated-crc", "src/zip/zip_inflate.cpp",
     "if (libdeflate_crc32(0, data, got) != plan.crc) return ChecksumError(shown);", "",
     "test_zip"),
    ("zip-dotdot-name", "src/zip/zip_names.cpp",
     'if (part == "..") return std::nullopt;', "", "test_zip"),
    ("zip-absolute-name", "src/zip/zip_names.cpp",
     "if (name.empty() || name.front() == '/' || name.front() == '\\\\') return std::nullopt;",
     "if (name.empty()) return std::nullopt;", "test_zip"),
    ("zip-drive-letter", "src/zip/zip_names.cpp",
     "if (name.size() >= 2 && name[1] == ':') return std::nullopt;", "", "test_zip"),
    ("zip-bomb-early-stop", "src/zip/zip_inflate.cpp",
     "if (produced > declared)\n", "if (false)\n", "test_zip"),
    ("ini-read-runs-into-next-section", "src/settings/settings.cpp",
     r"re:if \(IsSectionHeader\(t, name\)\) break;(\n\s*if \(!SplitKeyLine)",
     r"if (IsSectionHeader(t, name)) continue;\1", "test_settings"),
    ("ini-write-line-break", "src/settings/settings.cpp",
     r're:key\.find\(\'=\'\) != std::string_view::npos \|\|\n\s*value\.find_first_of\("\\r\\n"\) '
     r"!= std::string_view::npos\)",
     "key.find('=') != std::string_view::npos)", "test_settings"),
    ("a85-partial-group-length", "src/settings/settings.cpp",
     "position -= 5 - (rest + 1);", "position -= 5 - rest;", "test_settings"),
    ("a85-zero-shortcut-in-tail", "src/settings/settings.cpp",
     "if (!partial && word == 0) {", "if (word == 0) {", "test_settings"),
    ("a85-decode-padding", "src/settings/settings.cpp",
     "value = value * 85 + 84;", "value = value * 85;", "test_settings"),
    ("scramble-key-cycle", "src/settings/settings.cpp",
     "key[i % key.size()]", "key[i % (key.size() - 1)]", "test_settings"),
    ("unscramble-trailing-pad", "src/settings/settings.cpp",
     "return mixed.substr(1, mixed.size() - 2);", "return mixed.substr(1);", "test_settings"),
    ("list-dos-pm", "src/net/listing_parser.cpp",
     "if (hour != 12) hour += 12;", "hour += 12;", "test_net"),
    ("list-dos-two-digit-year", "src/net/listing_parser.cpp",
     "year += year < 70 ? 2000 : 1900;", "year += 1900;", "test_net"),
    ("list-unix-future-year", "src/net/listing_parser.cpp",
     "if (when > nowUtc + kDaySeconds) when = ToUtc(year - 1, month, day, hour, minute, 0);", "",
     "test_net"),
    ("list-unix-link-arrow", "src/net/listing_parser.cpp",
     "if (arrow != std::string_view::npos) name = name.substr(0, arrow);", "", "test_net"),
    ("list-mlsd-cdir", "src/net/listing_parser.cpp",
     'if (EqualNoCase(value, "cdir") || EqualNoCase(value, "pdir")) return false;', "", "test_net"),
    ("http-404-mapping", "src/net/error_codes.cpp",
     "case 404:\n        case 410:\n            return kInetObjectNotFound;",
     "case 410:\n            return kInetObjectNotFound;", "test_net"),
    ("http-resolve-mapping", "src/net/error_codes.cpp",
     "case CURLE_COULDNT_RESOLVE_PROXY:\n            return kInetResourceNotFound;",
     "case CURLE_COULDNT_RESOLVE_PROXY:\n            return kInetCannotConnect;", "test_net"),
    ("ftp-refusal-mapping", "src/net/error_codes.cpp",
     "return replyCode >= 400 ? kErrExtended : kErrInternal;", "return kErrInternal;", "test_net"),
    ("ftp-active-ignored", "src/net/ftp_connection.cpp",
     'passive ? nullptr : "-"', "nullptr", "test_net"),
    ("ftp-connect-mapping", "src/net/error_codes.cpp",
     "case CURLE_COULDNT_CONNECT:\n            return kErrCannotConnect;",
     "case CURLE_COULDNT_CONNECT:\n            return kErrTimeout;", "test_net"),
    ("sync-moves-after-7zip-error", "src/app/config_sync.cpp",
     "if (exitCode >= 0 && exitCode < kSevenZipFirstError) return true;",
     "if (exitCode >= 0) return true;", "test_app"),
    ("sync-defs-target", "src/app/config_sync.cpp",
     'ShellMove(scratch + "/Defs", extractFolder + "/Modules");',
     'ShellMove(scratch + "/Defs", extractFolder);', "test_app"),
    ("sync-ketarin-only-db", "src/app/config_sync.cpp",
     'ShellMove(scratch + "/Ketarin/*.db", target);',
     'ShellMove(scratch + "/Ketarin", target);', "test_app"),
    ("sync-config-moved-before-decrypt", "src/app/config_sync.cpp",
     "Decrypt(scratch, credentials.zipPassword) && MoveIntoTree(scratch)",
     "(Decrypt(scratch, credentials.zipPassword), MoveIntoTree(scratch))", "test_app"),
    ("previous-package-left", "src/app/previous_versions.cpp",
     "DeleteFileQuiet(package);\n    tool.RecordDeploy", "tool.RecordDeploy", "test_app"),
    ("previous-no-version-check", "src/app/previous_versions.cpp",
     "if (version.empty()) {", "if (false) {", "test_app"),
    ("update-no-rename-back", "src/app/self_update.cpp",
     "DeleteFileQuiet(target);\n    RenameFile(old, running);", "DeleteFileQuiet(target);",
     "test_app"),
    ("exit-config-missing-as-ok", "src/app/download_run.cpp",
     ": ExitCode::ToolWithoutConfig);", ": ExitCode::Ok);", "e2e"),
    ("exit-failed-fetch-stays", "src/app/download_run.cpp",
     "case ToolPackage::Fetch::Failed:\n            return Outcome::End(ExitCode::Failed);",
     "case ToolPackage::Fetch::Failed:\n            return Outcome::Stay();", "test_app"),
    ("exit-unstarted-tool-ok", "src/app/download_run.cpp",
     "if (!started) return Outcome::End(ExitCode::Failed);", "(void)started;", "e2e"),
    ("exit-handover-forgets-failure", "src/app/main_presenter.cpp",
     "closingCode_ = ExitCode::Failed;", "", "e2e"),
    ("exit-refused-index-unattended", "src/app/main_presenter.cpp",
     "if (unattendedStart_) Finish(Outcome::End(ExitCode::Failed));", "", "e2e"),
    ("seven-zip-refusal-ignored", "src/app/seven_zip.cpp",
     "if (fetch == Fetch::Refused) return State::Refused;", "", "e2e"),
    ("whole-commits-each-entry", "src/zip/zip_reader.cpp",
     "if (job.needsWork && job.outcome == Outcome::Done && !whole_) {",
     "if (job.needsWork && job.outcome == Outcome::Done) {", "test_zip"),
    ("whole-keeps-new-folders", "src/zip/zip_reader.cpp",
     "        dest_.RemoveCreatedFolders();\n", "", "test_zip"),
    ("whole-ignores-refused-entry", "src/zip/zip_reader.cpp",
     "job.outcome == Outcome::Fatal || (whole_ && zipimpl::ReportsError(job.events));",
     "job.outcome == Outcome::Fatal;", "test_zip"),
    ("process-stdin-dropped", "src/common/process.cpp",
     "platform::Spawn(argv, detached, child, standardInput)",
     "platform::Spawn(argv, detached, child, nullptr)", "test_common"),
    ("delay-ignores-clock", "src/common/process.cpp",
     "clock.SleepFor(left < kPoll ? left + milliseconds(1) : kPoll);",
     "clock.SleepFor(kPoll);", "test_common"),
    ("rmtree-follows-links", "src/platform/fs_posix.cpp",
     "&st, AT_SYMLINK_NOFOLLOW) != 0) return errno;\n    if (!S_ISDIR",
     "&st, 0) != 0) return errno;\n    if (!S_ISDIR", "test_common"),
]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", **kw)


def refresh(wt, build):
    if not os.path.isdir(wt):
        run(["git", "-C", REPO, "worktree", "add", "--detach", wt, "HEAD"])
    head = run(["git", "-C", REPO, "rev-parse", "HEAD"]).stdout.strip()
    run(["git", "-C", wt, "checkout", "-f", "--detach", head])
    shutil.rmtree(os.path.join(wt, "tests"))
    shutil.copytree(os.path.join(REPO, "tests"), os.path.join(wt, "tests"))
    if not os.path.isdir(build):
        run(["cmake", "-S", wt, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
             "-DTALVANE_BENCH=OFF"], check=True)


def run_e2e(wt, build, timeout):
    env = dict(os.environ, TALVANE_BIN=os.path.join(build, "bin", "Talvane"),
               PYTHONDONTWRITEBYTECODE="1")
    try:
        t = run([sys.executable, "-m", "unittest", "-f", "test_exit_codes"], timeout=timeout,
                cwd=os.path.join(wt, "tests", "e2e"), env=env)
    except subprocess.TimeoutExpired:
        return "killed", "(timeout)"
    if t.returncode == 0:
        return "survived", ""
    m = re.search(r"^FAIL: (\S+) .*?(?:\[(.*?)\])?$", t.stdout, re.M)
    return "killed", "e2e " + (m.group(2) or m.group(1) if m else "(error)")


def first_failure(output):
    m = re.search(r"^\[  FAILED  \] ([^\s,]+)", output, re.M)
    return m.group(1) if m else "(crash or timeout)"


def try_mutant(wt, build, mutant, jobs, timeout):
    name, rel, old, new, target = mutant
    path = os.path.join(wt, rel)
    with open(path) as f:
        original = f.read()
    if old.startswith("re:"):
        mutated, count = re.subn(old[3:], new, original)
    else:
        mutated, count = original.replace(old, new), original.count(old)
    if count != 1:
        return "n/a", f"old text found {count} times"
    try:
        with open(path, "w") as f:
            f.write(mutated)
        b = run(["ninja", "-C", build, f"-j{jobs}", "Talvane" if target == "e2e" else target])
        if b.returncode != 0:
            return "n/a", "does not compile"
        if target == "e2e":
            return run_e2e(wt, build, timeout)
        exe = os.path.join(build, "bin", target) if os.path.exists(
            os.path.join(build, "bin", target)) else os.path.join(build, "tests", target)
        try:
            t = run([exe, "--gtest_fail_fast", "--gtest_brief=1"], timeout=timeout, cwd=build)
        except subprocess.TimeoutExpired:
            return "killed", "(timeout)"
        if t.returncode == 0:
            return "survived", ""
        return "killed", first_failure(t.stdout)
    finally:
        with open(path, "w") as f:
            f.write(original)


def build_and_run(build, targets, jobs, timeout):
    b = run(["ninja", "-C", build, f"-j{jobs}"] + targets)
    if b.returncode != 0:
        return "invalid", "does not compile"
    for target in targets:
        try:
            t = run([os.path.join(build, "bin", target), "--gtest_fail_fast", "--gtest_brief=1"],
                    timeout=timeout, cwd=build)
        except subprocess.TimeoutExpired:
            return "killed", f"{target} (timeout)"
        if t.returncode != 0:
            return "killed", first_failure(t.stdout)
    return "survived", ""


# The ctest labels (test programs, "e2e" for the launcher runs) whose code links each layer.
ABOVE_APP = ["test_app", "test_console_frontend", "test_wx_frontend", "e2e"]
REACH = {
    "src/platform/": None,  # everything
    "src/common/": None,
    "src/settings/": ["test_settings"] + ABOVE_APP,
    "src/zip/": ["test_zip"] + ABOVE_APP,
    "src/net/": ["test_net"] + ABOVE_APP,
    "src/app/": ABOVE_APP,
    "src/frontends/console/": ["test_console_frontend", "e2e"],
    "src/frontends/wx/": ["test_wx_frontend"],
}


def whole_suite(build, rel, covering, jobs, timeout):
    """The rest of the suite that can reach the file: every program above it and the
    end-to-end runs, through ctest, ending at the first failure."""
    reach = next((labels for prefix, labels in REACH.items() if rel.startswith(prefix)), None)
    b = run(["ninja", "-C", build, f"-j{jobs}"])
    if b.returncode != 0:
        return "invalid", "does not compile"
    cmd = ["ctest", "--test-dir", build, "-j2", "--stop-on-failure", "--timeout", str(timeout)]
    labels = [l for l in reach if l not in covering] if reach else []
    cmd += ["-L", "^(" + "|".join(labels) + ")$"] if reach else ["-LE", "^(" + "|".join(covering) + ")$"]
    env = dict(os.environ, TALVANE_KILLS=os.environ.get("TALVANE_KILLS", "6"))
    t = run(cmd, env=env)
    failed = re.findall(r"^\s*\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)",
                        t.stdout, re.M)
    if t.returncode == 0:
        return "survived", ""
    return "killed", "suite " + (failed[0] if failed else "(ctest error)")


def load_equivalents():
    known = set()
    path = os.path.join(REPO, "tools", "mutants_equivalent.txt")
    if os.path.exists(path):
        for line in open(path):
            parts = line.rstrip("\n").split("\t")
            if len(parts) >= 3 and not line.startswith("#"):
                known.add((parts[0], parts[1].strip(), parts[2].strip()))
    return known


def sample_order(mutants, seed):
    """All mutants in a random order, each file's share growing with the square root of
    its mutant count, so one long file does not crowd out the short ones."""
    rng = random.Random(seed)
    per_file = {}
    for m in mutants:
        per_file[m[1]] = per_file.get(m[1], 0) + 1
    keys = [(rng.random() ** math.sqrt(per_file[m[1]]), m) for m in mutants]
    return [m for _, m in sorted(keys, key=lambda k: k[0], reverse=True)]


def report_survivors(path):
    """((file, original, mutated), line) of the rows a --markdown report lists as survived."""
    wanted = []
    for line in open(path):
        cells = [c.strip() for c in line.strip().strip("|").split(" | ")]
        if len(cells) >= 5 and cells[4] == "survived":
            where, number = cells[0].rsplit(":", 1)
            wanted.append(((where, cells[2].strip("`"), cells[3].strip("`")), int(number)))
    return wanted


def nearest(mutants, wanted):
    """For each survivor the mutant of the same text nearest its old line (lines move)."""
    chosen = []
    for key, number in wanted:
        same = [m for m in mutants if (m[1], m[3].strip(), m[4].strip()) == key]
        if same:
            chosen.append(min(same, key=lambda m: abs(m[2] - number)))
    return chosen


def random_run(a, wt, build):
    seed = a.seed if a.seed is not None else random.SystemRandom().randrange(1 << 30)
    print(f"seed {seed}  (repeat with: ./run mutate {a.random} --seed {seed})", flush=True)
    mutants = mutation_rules.generate(wt, a.files)
    if a.recheck:
        wanted = report_survivors(a.recheck)
        mutants = nearest(mutants, wanted)
        a.random = len(mutants)
        print(f"rechecking {len(mutants)} of the {len(wanted)} survivors in {a.recheck}", flush=True)
    targets = sorted({t for m in mutants for t in m[6]})
    run(["ninja", "-C", build, f"-j{a.jobs}"], check=True)  # all, so a survivor rebuilds little
    equivalents = load_equivalents()
    rows, invalid = [], 0
    for ident, rel, number, original, mutated, rule, tests in sample_order(mutants, seed):
        if len(rows) >= a.random:
            break
        path = os.path.join(wt, rel)
        lines = open(path).readlines()
        if lines[number - 1] != original:
            continue
        start = time.monotonic()
        try:
            open(path, "w").writelines(lines[:number - 1] + [mutated] + lines[number:])
            result, by = build_and_run(build, tests, a.jobs, a.timeout)
            covering = result
            if result == "survived" and not a.covering_only:
                result, by = whole_suite(build, rel, tests, a.jobs, a.timeout)
        finally:
            open(path, "w").writelines(lines)
        if result == "invalid":
            invalid += 1
            continue
        if result == "survived" and (rel, original.strip(), mutated.strip()) in equivalents:
            result = covering = "equivalent"
        rows.append((f"{rel}:{number}", rule, original.strip(), mutated.strip(), result, by, covering))
        print(f"{rel}:{number:<5} {rule:16} {result:10} {by}  ({time.monotonic() - start:.0f} s)"
              f"\n      - {original.strip()}\n      + {mutated.strip() or '(deleted)'}", flush=True)
    killed = sum(r[4] == "killed" for r in rows)
    survived = sum(r[4] == "survived" for r in rows)
    equivalent = sum(r[4] == "equivalent" for r in rows)
    by_covering = sum(r[6] == "killed" for r in rows)
    counted = max(1, killed + survived)
    print(f"seed {seed}: {killed} killed, {survived} survived, {equivalent} equivalent, "
          f"{invalid} did not compile (not counted)\n"
          f"  covering programs alone: {by_covering} killed, {100.0 * by_covering / counted:.0f}% "
          f"of non-equivalent\n"
          + ("" if a.covering_only else
             f"  whole suite:             {killed} killed, {100.0 * killed / counted:.0f}% "
             f"of non-equivalent"))
    if a.markdown:
        with open(a.markdown, "w") as f:
            f.write(f"seed {seed}\n\n| where | rule | line | mutated | result | by |\n"
                    "|---|---|---|---|---|---|\n")
            for r in rows:
                f.write("| " + " | ".join(f"`{c}`" if 1 < i < 4 and c else c
                                          for i, c in enumerate(r[:6])) + " |\n")
    run(["ninja", "-C", build, f"-j{a.jobs}"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--random", type=int, nargs="?", const=60)
    ap.add_argument("--seed", type=int)
    ap.add_argument("--files", nargs="*")
    ap.add_argument("--worktree", default=os.path.join(REPO, "build", "mutation"))
    ap.add_argument("--refresh", action="store_true")
    ap.add_argument("--only", nargs="*")
    ap.add_argument("--markdown")
    ap.add_argument("--recheck", help="a --markdown report whose survivors are run again")
    ap.add_argument("--jobs", type=int, default=1)
    ap.add_argument("--timeout", type=int, default=600)
    ap.add_argument("--covering-only", action="store_true",
                    help="count a mutant its covering programs miss as survived, without the suite")
    a = ap.parse_args()
    wt = os.path.abspath(a.worktree)
    if os.path.realpath(wt) == os.path.realpath(REPO):
        sys.exit("the worktree must not be the repository itself")
    build = os.path.join(wt, "build")
    if a.refresh or not os.path.isdir(build):
        refresh(wt, build)
    if a.random:
        random_run(a, wt, build)
        return
    chosen = [m for m in MUTANTS if not a.only or m[0] in a.only]
    # Build everything unmutated first, so each mutant rebuilds only its own part.
    targets = sorted({"Talvane" if m[4] == "e2e" else m[4] for m in chosen})
    run(["ninja", "-C", build, f"-j{a.jobs}"] + targets, check=True)
    rows = []
    for m in chosen:
        start = time.monotonic()
        result, by = try_mutant(wt, build, m, a.jobs, a.timeout)
        rows.append((m[0], m[1], result, by))
        print(f"{m[0]:34} {result:9} {by}  ({time.monotonic() - start:.0f} s)", flush=True)
    killed = sum(r[2] == "killed" for r in rows)
    print(f"{killed} of {len(rows)} killed")
    if a.markdown:
        with open(a.markdown, "w") as f:
            f.write("| mutant | file | result | first failing test |\n|---|---|---|---|\n")
            for r in rows:
                f.write(f"| {r[0]} | {r[1]} | {r[2]} | {r[3]} |\n")
            f.write(f"\n{killed} of {len(rows)} killed\n")
    # Put the build back on the unmutated sources.
    run(["ninja", "-C", build, f"-j{a.jobs}"] + targets)


if __name__ == "__main__":
    main()
