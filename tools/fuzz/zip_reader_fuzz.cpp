// libFuzzer target for the zip reader: any input is opened, extracted, tested and
// listed. Anything written beside the destination folder is a finding (abort).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "zip/zip_reader.h"

namespace fs = std::filesystem;

namespace {

const std::string& Sandbox() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zip-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return dir;
}

void CheckSandbox(const std::string& sandbox) {
    for (const auto& e : fs::directory_iterator(sandbox)) {
        const std::string name = e.path().filename().string();
        if (name != "in.zip" && name != "out") {
            std::fprintf(stderr, "written outside the destination: %s\n", name.c_str());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& sandbox = Sandbox();
    const std::string archive = sandbox + "/in.zip";
    const std::string out = sandbox + "/out";
    {
        std::ofstream f(archive, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        talvane::ZipReader zip;
        long events = 0;
        zip.ZipError = [&events](long, const std::string&) { ++events; };
        zip.Status = [&events](const std::string&) { ++events; };
        if (zip.OpenZip(archive)) {
            zip.ListEntries([&events](const talvane::ZipEntryInfo&) { ++events; });
            zip.TestEntries();
            zip.Extract(out, true, true);
            zip.Extract(out, false, false);
        }
    }
    CheckSandbox(sandbox);
    std::error_code ec;
    fs::remove_all(out, ec);
    return 0;
}
