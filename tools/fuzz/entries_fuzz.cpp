// libFuzzer target for the entry manifest reader: any input, and the input spliced
// into a valid manifest so the entry lines are reached. Whatever is read must be
// consistent and written back to text that reads the same.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "zip/zip_entries.h"

namespace {

const std::string kHash(64, 'a');
const std::string kManifest = "talvane-entries 1\npackage 400 300 " + kHash + " " +
                              std::string(128, 'b') + "\n0 100 0000abcd 60 80 " + kHash +
                              " dir/a%25.txt\n100 200 ffffffff 150 900 " + kHash + " b c\n";

void Check(std::string_view text) {
    std::string problem;
    const auto manifest = talvane::ParseEntryManifest(text, problem);
    if (!manifest) return;
    for (const auto& e : manifest->entries)
        if (e.offset + e.span > manifest->directoryOffset ||
            manifest->directoryOffset > manifest->packageSize) {
            std::fprintf(stderr, "an entry outside the package was read\n");
            std::abort();
        }
    const std::string again = talvane::FormatEntryManifest(*manifest);
    const auto reread = talvane::ParseEntryManifest(again, problem);
    if (!reread || talvane::FormatEntryManifest(*reread) != again) {
        std::fprintf(stderr, "a manifest read does not read back the same\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Check(input);
    if (size == 0) {
        std::string problem;
        if (!talvane::ParseEntryManifest(kManifest, problem)) std::abort();
        return 0;
    }
    std::string spliced(kManifest);
    const std::size_t at = data[0] % spliced.size();
    spliced.replace(at, std::min(size - 1, spliced.size() - at), input.substr(1));
    Check(spliced);
    return 0;
}
