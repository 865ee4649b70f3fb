"""Rule-based mutant generator for C++ sources: every single-token fault the rules
can make on every code line of a file, from which a caller draws a random sample.

The rules are the usual ones of C-family mutation tools: swap a relational or
logical operator, drop a negation, flip a boolean literal, change an integer
literal, swap + and -, turn break into continue, delete a statement. Lines that
only log (DPrint and friends), comments, preprocessor lines and text inside
string or character literals are left alone: a fault there changes a diagnostic,
not what the program does.
"""
import re

# The files whose faults cost the most, and the test programs that cover them.
TARGETS = {
    "src/app/signatures.cpp": ["test_app"],
    "src/app/transfers.cpp": ["test_app"],
    "src/app/tool_package.cpp": ["test_app"],
    "src/app/delta_download.cpp": ["test_app"],
    "src/app/deploy_manifest.cpp": ["test_app"],
    "src/app/deploy_transaction.cpp": ["test_app"],
    "src/app/self_update.cpp": ["test_app"],
    "src/app/seven_zip.cpp": ["test_app"],
    "src/app/installers.cpp": ["test_app"],
    "src/app/config_sync.cpp": ["test_app"],
    "src/app/main_presenter.cpp": ["test_app"],
    "src/common/atomic_file.cpp": ["test_common"],
    "src/platform/fs_posix.cpp": ["test_common", "test_platform"],
    "src/platform/file_io_posix.cpp": ["test_common", "test_zip"],
    "src/platform/fd_posix.cpp": ["test_common", "test_zip"],
    "src/zip/zip_directory.cpp": ["test_zip"],
    "src/zip/zip_inflate.cpp": ["test_zip"],
    "src/zip/zip_extract_entry.cpp": ["test_zip"],
    "src/zip/zip_names.cpp": ["test_zip"],
    "src/zip/zip_reader.cpp": ["test_zip"],
    "src/zip/zip_entries.cpp": ["test_zip"],
    "src/net/download.cpp": ["test_net"],
    "src/net/ftp_transfer.cpp": ["test_net"],
    "src/net/ftp_connection.cpp": ["test_net"],
    "src/net/partial_download.cpp": ["test_net"],
    "src/net/listing_parser.cpp": ["test_net"],
    "src/settings/settings.cpp": ["test_settings"],
    "src/settings/endpoints.cpp": ["test_settings"],
    "src/frontends/console/console_frontend.cpp": ["test_console_frontend"],
}

SWAPS = [
    ("==", "!="), ("!=", "=="), ("<=", "<"), (">=", ">"), ("&&", "||"), ("||", "&&"),
    (" < ", " <= "), (" > ", " >= "), (" + ", " - "), (" - ", " + "),
]
SKIP_LINE = re.compile(r"^\s*(//|#|\*|/\*)|DPrint\(|\.Print\(|LogFailure|static_assert")
DECLARATION_START = re.compile(r"^\s*(const |static |constexpr |auto |std::|unsigned |int |long |"
                               r"bool |char |size_t |using |namespace |class |struct |enum |"
                               r"template|[A-Z]\w*(::\w+)*(<.*>)?[&*]? \w+( =|;|\{|\())")


def mask_literals(line):
    """The line with string and character literals and a trailing comment blanked."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
                out.append(c)
            else:
                out.append(" ")
        elif c == "'" and line[i - 1:i].isalnum() and line[i + 1:i + 2].isalnum():
            out.append(c)  # a digit separator, 10'000
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


def line_mutants(line):
    """(rule, mutated line) for one source line."""
    if not line.strip() or SKIP_LINE.search(line):
        return []
    masked = mask_literals(line)
    found = []

    def at(pos, old, new, rule):
        found.append((rule, line[:pos] + new + line[pos + len(old):]))

    for old, new in SWAPS:
        for m in re.finditer(re.escape(old), masked):
            if old == " - " and masked[m.end():m.end() + 1] == ">":
                continue
            if old in ("==", "!=", "<=", ">=") and masked[m.end():m.end() + 1] == "=":
                continue
            at(m.start(), old, new, f"{old.strip()}->{new.strip()}")
    for m in re.finditer(r"!(?!=)(?=[\w(])", masked):
        at(m.start(), "!", "", "drop-!")
    for m in re.finditer(r"\b(true|false)\b", masked):
        at(m.start(), m.group(1), "false" if m.group(1) == "true" else "true", "flip-bool")
    for m in re.finditer(r"(?<![\w.'])(\d[\d']*)(?![\w.])", masked):
        n = int(m.group(1).replace("'", ""))
        at(m.start(), m.group(1), str(n + 1), "literal+1")
        if n > 1:
            at(m.start(), m.group(1), "0", "literal->0")
    for m in re.finditer(r"\bbreak;", masked):
        at(m.start(), "break;", "continue;", "break->continue")
    stripped = masked.strip()
    if (stripped.endswith(";") and not stripped.startswith(("return", "}", "case ", "default"))
            and not DECLARATION_START.match(masked) and "(" in stripped or
            stripped in ("return;", "continue;", "break;")):
        found.append(("delete-statement", re.match(r"\s*", line).group(0) + "\n"
                      if line.endswith("\n") else ""))
    return found


def generate(root, files=None):
    """Every mutant of the target files: (id, file, line number, original, mutated, rule, tests)."""
    result = []
    for rel in sorted(files or TARGETS):
        with open(f"{root}/{rel}") as f:
            lines = f.readlines()
        for number, line in enumerate(lines, 1):
            for k, (rule, mutated) in enumerate(line_mutants(line)):
                if mutated != line:
                    result.append((f"{rel}:{number}:{rule}:{k}", rel, number, line, mutated, rule,
                                   TARGETS.get(rel, [])))
    return result
