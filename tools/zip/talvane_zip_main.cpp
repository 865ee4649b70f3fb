// talvane-zip: lists, tests, extracts and creates zip archives with the launcher's
// own reader and writer, so packages are built and checked by the code that deploys them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "common/files.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "zip/zip_entries.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOk = 0;
constexpr int kEntryErrors = 1;
constexpr int kFailed = 2;
// Sizes are 32-bit fields: the writer makes no Zip64 archives.
constexpr std::uintmax_t kMaxEntrySize = 0xFFFFFFFFu;

// Names are UTF-8 throughout, as the launcher's own file layer takes them (on
// Windows a narrow std::filesystem path would be read in the ANSI code page).
fs::path PathOf(const std::string& utf8) {
    return fs::u8path(utf8);
}
std::string Utf8(const fs::path& p) {
    const std::u8string s = p.generic_u8string();
    return {s.begin(), s.end()};
}

constexpr const char* kUsage =
    "usage: talvane-zip l ARCHIVE          list entries (size, name)\n"
    "       talvane-zip t ARCHIVE          test every entry's data and CRC-32\n"
    "       talvane-zip x ARCHIVE DEST     extract into DEST (created when missing)\n"
    "       talvane-zip c ARCHIVE FILE...  create; folders are added recursively and\n"
    "                                      entry names are relative to the current folder\n"
    "       talvane-zip manifest ARCHIVE   write ARCHIVE.entries: each entry's place, span,\n"
    "                                      CRC-32, sizes and content SHA-256\n"
    "exit status: 0 done, 1 some entries failed, 2 nothing done\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return kFailed;
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "talvane-zip: %s\n", text.c_str());
}

void Warn(const std::string& text) {
    std::fprintf(stderr, "talvane-zip: warning: %s\n", text.c_str());
}

// Opens the archive with every error going to stderr and counted.
struct Reader {
    talvane::ZipReader zip;
    int errors = 0;
    Reader() {
        zip.ZipError = [this](long number, const std::string& text) {
            ++errors;
            std::fprintf(stderr, "talvane-zip: error %ld: %s\n", number, text.c_str());
        };
    }
};

int Finish(bool walked, int errors) {
    if (!walked) return kFailed;
    return errors > 0 ? kEntryErrors : kOk;
}

int List(const std::string& archive) {
    Reader r;
    if (!r.zip.OpenZip(archive)) return kFailed;
    const bool ok = r.zip.ListEntries([](const talvane::ZipEntryInfo& e) {
        std::printf("%10llu  %s\n", static_cast<unsigned long long>(e.size), e.name.c_str());
    });
    return ok ? kOk : kFailed;
}

int Test(const std::string& archive) {
    Reader r;
    if (!r.zip.OpenZip(archive)) return kFailed;
    const bool walked = r.zip.TestEntries();
    if (walked && r.errors == 0) std::printf("No errors detected in %s\n", archive.c_str());
    return Finish(walked, r.errors);
}

int Extract(const std::string& archive, const std::string& dest) {
    Reader r;
    // The archive is checked first so that a typo leaves no empty folder behind.
    if (!r.zip.OpenZip(archive)) return kFailed;
    std::error_code ec;
    if (fs::exists(PathOf(dest), ec) && !fs::is_directory(PathOf(dest), ec)) {
        Complain(dest + " exists and is not a folder");
        return kFailed;
    }
    const bool made = fs::create_directories(PathOf(dest), ec);
    if (!made && ec) {
        Complain("can't create the folder " + dest + ": " + ec.message());
        return kFailed;
    }
    const bool walked = r.zip.Extract(dest, true, true);
    if (walked) return Finish(true, r.errors);
    if (r.zip.FilesWritten() > 0) return kEntryErrors;
    // Nothing done: not even the folder made for it stays.
    if (made) fs::remove(PathOf(dest), ec);
    return kFailed;
}

// Entry name for a path given on the command line: relative to the current folder,
// with '/' separators; empty when the path lies outside it. Links below the current
// folder keep their own names even when they point elsewhere.
std::string EntryName(const fs::path& p, const fs::path& cwd) {
    auto inside = [](const fs::path& rel) {
        const std::string s = Utf8(rel);
        return !rel.empty() && !rel.is_absolute() && s != "." && s != ".." &&
               s.rfind("../", 0) != 0;
    };
    std::error_code ec;
    fs::path rel =
        p.is_absolute() ? p.lexically_normal().lexically_relative(cwd) : p.lexically_normal();
    if (!inside(rel) && p.is_absolute()) {
        // The current folder may have been reached through a link.
        const fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
        if (!ec) rel = (parent / p.filename()).lexically_relative(cwd);
    }
    return inside(rel) ? Utf8(rel) : std::string();
}

int Create(const std::string& archive, const std::vector<std::string>& inputs) {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    const fs::path archiveAbs = fs::weakly_canonical(fs::absolute(PathOf(archive), ec), ec);
    std::vector<std::pair<fs::path, std::string>> files;  // path, entry name
    std::set<std::string> names;
    bool bad = false;
    auto addOne = [&](const fs::path& p) {
        if (fs::weakly_canonical(fs::absolute(p, ec), ec) == archiveAbs) return;
        const std::string name = EntryName(p, cwd);
        if (name.empty()) {
            Complain(Utf8(p) + " is outside the current folder");
            bad = true;
            return;
        }
        if (!names.insert(name).second) return;  // named twice on the command line
        if (name.find('\\') != std::string::npos)
            Warn(name + ": the launcher reads '\\' in a name as a folder separator");
        const std::uintmax_t size = fs::file_size(p, ec);
        if (!ec && size > kMaxEntrySize) {
            Complain(name + " is larger than 4 GiB - 1 byte, the most a zip entry holds here");
            bad = true;
            return;
        }
        if (size == 0 && !ec)
            Warn(name + " is empty; the launcher creates no file for an empty entry");
        files.emplace_back(p, name);
    };
    for (const auto& in : inputs) {
        const fs::path p = PathOf(in);
        if (fs::is_directory(p, ec)) {
            std::vector<fs::path> found;
            for (fs::recursive_directory_iterator it(p, ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::error_code kindEc;
                if (it->is_regular_file(kindEc)) {
                    found.push_back(it->path());
                } else if (!it->is_directory(kindEc) || it->is_symlink(kindEc)) {
                    // Links to folders are not followed (they could loop); sockets,
                    // pipes and dangling links have no content to store.
                    Warn("skipped " + Utf8(it->path()) +
                         (it->is_symlink(kindEc) ? " (a link to a folder or to nothing)"
                                                 : " (not a regular file)"));
                }
            }
            if (ec) {
                Complain("can't read the folder " + in);
                bad = true;
            }
            std::sort(found.begin(), found.end());
            for (const auto& f : found) addOne(f);
        } else if (fs::is_regular_file(p, ec)) {
            addOne(p);
        } else if (fs::exists(p, ec)) {
            Complain(in + " is not a regular file or folder");
            bad = true;
        } else {
            Complain(in + " doesn't exist");
            bad = true;
        }
    }
    if (bad) return kFailed;
    if (files.empty()) {
        Complain("nothing to add to " + archive);
        return kFailed;
    }
    talvane::ZipWriter zip;
    zip.StoreUnixModes(true);
    for (const auto& [path, name] : files) {
        if (!zip.AddFile(Utf8(path), name)) {
            Complain("can't add " + Utf8(path));
            return kFailed;
        }
    }
    if (!zip.WriteZip(archive, true)) {
        Complain("can't write " + archive);
        return kFailed;
    }
    return kOk;
}

// The entry manifest beside the archive, for clients that fetch only what changed.
int Manifest(const std::string& archive) {
    std::string problem;
    const auto manifest = talvane::MakeEntryManifest(archive, problem);
    if (!manifest) {
        Complain(archive + ": " + (problem.empty() ? "cannot be read" : problem));
        return kFailed;
    }
    const std::string target = archive + std::string(talvane::kEntriesSuffix);
    if (!talvane::WriteFileAtomic(target, talvane::FormatEntryManifest(*manifest))) {
        Complain("cannot write " + target);
        return kFailed;
    }
    std::printf("%zu entries of %s described in %s\n", manifest->entries.size(), archive.c_str(),
                target.c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    talvane::InstallInterruptCleanup();
    const std::vector<std::string> args = talvane::platform::ProgramArguments(argc, argv);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help" || args[0] == "help")) {
        std::fputs(kUsage, stdout);
        return kOk;
    }
    if (args.size() < 2) return Usage();
    const std::string& cmd = args[0];
    if (cmd == "l" && args.size() == 2) return List(args[1]);
    if (cmd == "t" && args.size() == 2) return Test(args[1]);
    if (cmd == "manifest" && args.size() == 2) return Manifest(args[1]);
    if (cmd == "x" && args.size() == 3) return Extract(args[1], args[2]);
    if (cmd == "c" && args.size() >= 3)
        return Create(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    return Usage();
}
