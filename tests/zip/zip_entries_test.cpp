// Entry manifests: what the publisher's tool writes, what a client accepts, and an
// extraction that writes only content the manifest vouches for.
#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <cstdio>
#include <functional>
#include <tuple>

#include "zip/zip_entries.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;

std::string Hex(const unsigned char* bytes, std::size_t size) {
    std::string hex;
    for (std::size_t i = 0; i < size; ++i)
        hex += {"0123456789abcdef"[bytes[i] >> 4], "0123456789abcdef"[bytes[i] & 15]};
    return hex;
}

std::string Sha256Hex(const std::string& data) {
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(data.data()),
                       data.size());
    return Hex(digest.data(), digest.size());
}

class EntryManifestTest : public ::testing::Test {
  protected:
    testing::TempDir tmp;
    std::string package = tmp.file("p.zip");
    std::string dest = tmp.file("out");
    RawZip zip;

    void SetUp() override {
        zip.entries = {{"dir/", ""},
                       {"dir/a.txt", "a"},  // one byte
                       {"b 100%.bin", std::string(5000, 'b'), 0},
                       {"c\tt.txt", "tab in the name"}};
        WriteFile(package, zip.Build());
    }
    EntryManifest Made() {
        std::string problem;
        const auto m = MakeEntryManifest(package, problem);
        EXPECT_TRUE(m) << problem;
        return m.value_or(EntryManifest{});
    }
};

TEST_F(EntryManifestTest, DescribesEveryEntryAndReadsBackWhatItWrote) {
    const EntryManifest m = Made();
    const std::string bytes = ReadFile(package);
    ASSERT_EQ(m.entries.size(), 4u);
    EXPECT_EQ(m.packageSize, bytes.size());
    EXPECT_EQ(m.directorySha256, Sha256Hex(bytes.substr(m.directoryOffset)));
    std::array<unsigned char, crypto_generichash_BYTES_MAX> whole{};
    crypto_generichash(whole.data(), whole.size(),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                       0);
    EXPECT_EQ(m.packageBlake2b, Hex(whole.data(), whole.size()));
    // Spans tile the entries' part of the file: each ends where the next begins.
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < m.entries.size(); ++i) {
        const ManifestEntry& e = m.entries[i];
        EXPECT_EQ(e.name, zip.entries[i].name);
        EXPECT_EQ(e.offset, at);
        EXPECT_EQ(e.sha256, Sha256Hex(zip.entries[i].content));
        EXPECT_EQ(e.crc, Crc(zip.entries[i].content));
        EXPECT_EQ(e.size, zip.entries[i].content.size());
        EXPECT_EQ(bytes.substr(e.offset, 4), std::string("PK\x03\x04", 4));
        at += e.span;
    }
    EXPECT_EQ(at, m.directoryOffset);

    const std::string text = FormatEntryManifest(m);
    EXPECT_NE(text.find(" b 100%25.bin\n"), std::string::npos);
    EXPECT_NE(text.find(" c%09t.txt\n"), std::string::npos);
    std::string problem;
    const auto back = ParseEntryManifest(text, problem);
    ASSERT_TRUE(back) << problem;
    EXPECT_EQ(FormatEntryManifest(*back), text);
    EXPECT_EQ(back->entries[2].name, "b 100%.bin");
    // An entry whose data fails its CRC gets no hash anyone could trust: no manifest.
    zip.entries[2].payload = std::string(5000, 'c');
    WriteFile(package, zip.Build());
    EXPECT_FALSE(MakeEntryManifest(package, problem));
}

TEST_F(EntryManifestTest, OnlyWholeConsistentManifestsAreRead) {
    const EntryManifest m = Made();
    const std::string good = FormatEntryManifest(m);
    const auto with = [&](const std::function<void(EntryManifest&)>& change) {
        EntryManifest c = m;
        change(c);
        return FormatEntryManifest(c);
    };
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        return t.replace(t.find(from), from.size(), to);
    };
    // (what the text holds, whether it is read)
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"another version", edited("talvane-entries 1", "talvane-entries 2"), false},
        {"no package line", edited("package ", "packages "), false},
        {"a short directory hash", with([](auto& c) { c.directorySha256.pop_back(); }), false},
        {"a short package hash", with([](auto& c) { c.packageBlake2b.pop_back(); }), false},
        {"no package hash", with([](auto& c) { c.packageBlake2b.clear(); }), false},
        {"an upper-case hash", with([](auto& c) { c.entries[1].sha256 = std::string(64, 'A'); }),
         false},
        {"the last line cut off", good.substr(0, good.size() - 1), false},
        {"a name left out", with([](auto& c) { c.entries[1].name.clear(); }), false},
        {"a broken escape", edited(" b 100%25.bin", " b 100%2.bin"), false},
        {"a span one byte into the directory", with([](auto& c) { c.entries[3].span += 1; }),
         false},
        {"a span one byte short of a local header", with([](auto& c) { c.entries[0].span = 29; }),
         false},
        {"a span of exactly a local header", with([](auto& c) { c.entries[0].span = 30; }), true},
        {"more compressed bytes than the span",
         with([](auto& c) { c.entries[2].compressedSize = c.entries[2].span + 1; }), false},
        {"a directory past the package's end",
         with([](auto& c) { c.directoryOffset = c.packageSize + 1; }), false},
    };
    for (const auto& [what, text, read] : cases) {
        std::string problem;
        EXPECT_EQ(ParseEntryManifest(text, problem).has_value(), read) << what;
        EXPECT_EQ(problem.empty(), read) << what << ": " << problem;
    }
}

TEST_F(EntryManifestTest, DirectoryMatchesOnlyThePackageItWasMadeFor) {
    const EntryManifest m = Made();
    EXPECT_TRUE(DirectoryMatches(m, package));
    std::string bytes = ReadFile(package);
    std::string other = bytes;
    other[m.directoryOffset + 16] ^= 1;  // the first CRC in the directory
    WriteFile(package, other);
    EXPECT_FALSE(DirectoryMatches(m, package));
    WriteFile(package, bytes + "x");
    EXPECT_FALSE(DirectoryMatches(m, package));
}

TEST_F(EntryManifestTest, AnExtractionWritesOnlyContentTheManifestVouchesFor) {
    zip.entries.pop_back();  // a tab in a file name is refused on Windows
    WriteFile(package, zip.Build());
    EntryManifest m = Made();
    // (what the manifest says of b 100%.bin, whether the extraction goes through)
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"its hash", m.entries[2].sha256, true},
        {"another hash", Sha256Hex("something else"), false},
        {"nothing: it is not listed", "", false},
    };
    for (const auto& [what, hash, passes] : cases) {
        EntryManifest says = m;
        says.entries[2].sha256 = hash;
        if (hash.empty()) says.entries.erase(says.entries.begin() + 2);
        std::filesystem::remove_all(dest);
        WriteFile(dest + "/dir/a.txt", "old");
        std::string problem;
        EXPECT_EQ(ExtractZipFile(package, dest, &problem, {}, MatchManifest(says)), passes) << what;
        if (passes) {
            EXPECT_EQ(ReadFile(dest + "/b 100%.bin"), std::string(5000, 'b')) << what;
        } else {
            EXPECT_NE(problem.find("b 100%.bin"), std::string::npos) << what << ": " << problem;
            EXPECT_EQ(Tree(dest), (Files{{"dir/a.txt", "old"}})) << what;
        }
    }
}

}  // namespace
}  // namespace talvane
