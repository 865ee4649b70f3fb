// talvane-zip: lists, tests, extracts and creates zip archives with the launcher's
// own reader and writer, so packages are built and checked by the code that deploys them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "transfer/zip_reader.h"
#include "transfer/zip_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOk = 0;
constexpr int kEntryErrors = 1;
constexpr int kFailed = 2;

int Usage() {
    std::fputs(
        "usage: talvane-zip l ARCHIVE          list entries (size, name)\n"
        "       talvane-zip t ARCHIVE          test every entry's data and CRC-32\n"
        "       talvane-zip x ARCHIVE DEST     extract into DEST (created when missing)\n"
        "       talvane-zip c ARCHIVE FILE...  create; folders are added recursively and\n"
        "                                      entry names are relative to the current folder\n",
        stderr);
    return kFailed;
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "talvane-zip: %s\n", text.c_str());
}

// Opens the archive with every error going to stderr and counted.
struct Reader {
    talvane::ZipExtractionClass zip;
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
        std::printf("%10u  %s\n", static_cast<unsigned>(e.size), e.name.c_str());
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
    std::error_code ec;
    fs::create_directories(dest, ec);
    Reader r;
    if (!r.zip.OpenZip(archive)) return kFailed;
    const bool walked = r.zip.Extract(dest, true, true);
    return Finish(walked, r.errors);
}

// Entry name for a path given on the command line: relative to the current folder,
// with '/' separators; empty when the path lies outside it.
std::string EntryName(const fs::path& p, const fs::path& cwd) {
    std::error_code ec;
    fs::path rel = p.is_absolute() ? fs::relative(p, cwd, ec) : p.lexically_normal();
    if (ec || rel.empty()) return {};
    const std::string s = rel.generic_string();
    if (s == ".." || s.rfind("../", 0) == 0 || rel.is_absolute()) return {};
    return s;
}

int Create(const std::string& archive, const std::vector<std::string>& inputs) {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    const fs::path archiveAbs = fs::weakly_canonical(fs::absolute(archive, ec), ec);
    std::vector<std::pair<fs::path, std::string>> files;  // path, entry name
    bool bad = false;
    auto addOne = [&](const fs::path& p) {
        if (fs::weakly_canonical(fs::absolute(p, ec), ec) == archiveAbs) return;
        const std::string name = EntryName(p, cwd);
        if (name.empty()) {
            Complain(p.string() + " is outside the current folder");
            bad = true;
            return;
        }
        files.emplace_back(p, name);
    };
    for (const auto& in : inputs) {
        const fs::path p(in);
        if (fs::is_directory(p, ec)) {
            std::vector<fs::path> found;
            for (fs::recursive_directory_iterator it(p, ec), end; !ec && it != end;
                 it.increment(ec)) {
                if (it->is_regular_file(ec)) found.push_back(it->path());
            }
            if (ec) {
                Complain("can't read the folder " + in);
                bad = true;
            }
            std::sort(found.begin(), found.end());
            for (const auto& f : found) addOne(f);
        } else if (fs::is_regular_file(p, ec)) {
            addOne(p);
        } else {
            Complain(in + " doesn't exist");
            bad = true;
        }
    }
    if (bad) return kFailed;
    talvane::ZipClass zip;
    zip.StoreUnixModes(true);
    for (const auto& [path, name] : files) {
        if (!zip.AddFile(path.string(), name)) {
            Complain("can't add " + path.string());
            return kFailed;
        }
    }
    if (!zip.WriteZip(archive, true)) {
        Complain("can't write " + archive);
        return kFailed;
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return Usage();
    const std::string& cmd = args[0];
    if (cmd == "l" && args.size() == 2) return List(args[1]);
    if (cmd == "t" && args.size() == 2) return Test(args[1]);
    if (cmd == "x" && args.size() == 3) return Extract(args[1], args[2]);
    if (cmd == "c" && args.size() >= 3)
        return Create(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    return Usage();
}
