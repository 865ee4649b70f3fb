#include "zip/zip_entries.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <unordered_map>

#include "platform/file_io.h"

namespace talvane {

namespace {

constexpr std::string_view kHeader = "talvane-entries 1";
constexpr std::size_t kHashHex = crypto_hash_sha256_BYTES * 2;
constexpr std::size_t kBlake2bHex = crypto_generichash_BYTES_MAX * 2;

std::string Hex(const unsigned char* data, std::size_t len) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < len; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

class Sha256 : public ContentSink {
  public:
    Sha256() { crypto_hash_sha256_init(&state_); }
    void Put(const void* data, std::size_t len) override {
        crypto_hash_sha256_update(&state_, static_cast<const unsigned char*>(data), len);
    }
    bool Finish() override {
        std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
        crypto_hash_sha256_final(&state_, digest.data());
        hex_ = Hex(digest.data(), digest.size());
        return true;
    }
    const std::string& HexDigest() const { return hex_; }

  private:
    crypto_hash_sha256_state state_{};
    std::string hex_;
};

// Passes only content whose hash is `expected`.
class Expect : public ContentSink {
  public:
    explicit Expect(std::string expected) : expected_(std::move(expected)) {}
    void Put(const void* data, std::size_t len) override { hash_.Put(data, len); }
    bool Finish() override { return hash_.Finish() && hash_.HexDigest() == expected_; }

  private:
    Sha256 hash_;
    std::string expected_;
};

// Writes an entry's hash where the manifest keeps it.
class Recorder : public ContentSink {
  public:
    explicit Recorder(std::string& into) : into_(into) {}
    void Put(const void* data, std::size_t len) override { hash_.Put(data, len); }
    bool Finish() override {
        hash_.Finish();
        into_ = hash_.HexDigest();
        return true;
    }

  private:
    Sha256 hash_;
    std::string& into_;
};

std::string EmptyHash() {
    Sha256 hash;
    hash.Finish();
    return hash.HexDigest();
}

// The whole file's BLAKE2b-512, as minisign's pre-hashed signatures take it.
class Blake2b : public ContentSink {
  public:
    Blake2b() { crypto_generichash_init(&state_, nullptr, 0, crypto_generichash_BYTES_MAX); }
    void Put(const void* data, std::size_t len) override {
        crypto_generichash_update(&state_, static_cast<const unsigned char*>(data), len);
    }
    bool Finish() override {
        std::array<unsigned char, crypto_generichash_BYTES_MAX> digest{};
        crypto_generichash_final(&state_, digest.data(), digest.size());
        hex_ = Hex(digest.data(), digest.size());
        return true;
    }
    const std::string& HexDigest() const { return hex_; }

  private:
    crypto_generichash_state state_{};
    std::string hex_;
};

template <typename Hash = Sha256>
std::optional<std::string> FileRangeHash(const std::string& file, std::uint64_t from,
                                         std::uint64_t to) {
    fileio::ReadOnlyFile in;
    if (in.Open(file) != fileio::ReadOnlyFile::OpenResult::Ok) return std::nullopt;
    Hash hash;
    std::vector<unsigned char> buffer(1 << 16);
    for (std::uint64_t at = from; at < to;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
        const long long n = in.ReadAt(buffer.data(), want, static_cast<long long>(at));
        if (n <= 0) return std::nullopt;
        hash.Put(buffer.data(), static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
    hash.Finish();
    return hash.HexDigest();
}

std::string EncodeName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '%') {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            out += '%';
            out += kDigits[u >> 4];
            out += kDigits[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> DecodeName(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size()) return std::nullopt;
        const auto [end, error] =
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (error != std::errc() || end != text.data() + i + 3) return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

// Splits off the next blank-separated field of `rest`.
std::string_view Field(std::string_view& rest) {
    const std::size_t blank = rest.find(' ');
    const std::string_view field = rest.substr(0, blank);
    rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
    return field;
}

template <typename Number>
bool ParseNumber(std::string_view field, Number& out, int base = 10) {
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), out, base);
    return !field.empty() && error == std::errc() && end == field.data() + field.size();
}

bool IsHash(std::string_view field, std::size_t length = kHashHex) {
    return field.size() == length &&
           field.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<ManifestEntry> ParseEntry(std::string_view line) {
    ManifestEntry e;
    const bool ok = ParseNumber(Field(line), e.offset) && ParseNumber(Field(line), e.span) &&
                    ParseNumber(Field(line), e.crc, 16) &&
                    ParseNumber(Field(line), e.compressedSize) && ParseNumber(Field(line), e.size);
    const std::string_view hash = Field(line);
    if (!ok || !IsHash(hash) || line.empty()) return std::nullopt;
    e.sha256 = std::string(hash);
    auto name = DecodeName(line);
    if (!name) return std::nullopt;
    e.name = std::move(*name);
    return e;
}

// Every span lies before the directory, which lies inside the package.
bool Consistent(const EntryManifest& m) {
    if (m.directoryOffset > m.packageSize) return false;
    return std::all_of(m.entries.begin(), m.entries.end(), [&](const ManifestEntry& e) {
        return e.span >= 30 && e.offset <= m.directoryOffset &&
               e.span <= m.directoryOffset - e.offset && e.compressedSize <= e.span;
    });
}

}  // namespace

std::optional<EntryManifest> MakeEntryManifest(const std::string& package, std::string& problem) {
    ZipReader zip;
    zip.ZipError = [&](long, const std::string& text) {
        if (problem.empty()) problem = text;
    };
    EntryManifest m;
    const auto directory = zip.OpenZip(package) ? zip.DirectoryOffset() : std::nullopt;
    if (!directory) return std::nullopt;
    fileio::FileFacts facts;
    if (!fileio::StatFile(package, facts)) return std::nullopt;
    m.packageSize = facts.size;
    m.directoryOffset = *directory;
    const auto directoryHash = FileRangeHash(package, m.directoryOffset, m.packageSize);
    const auto packageHash = FileRangeHash<Blake2b>(package, 0, m.packageSize);
    if (!directoryHash || !packageHash) return std::nullopt;
    m.directorySha256 = *directoryHash;
    m.packageBlake2b = *packageHash;
    if (!zip.ListEntries([&](const ZipEntryInfo& info) {
            m.entries.push_back({info.name, info.localOffset, 0, info.crc, info.compressedSize,
                                 info.size, EmptyHash()});
        }))
        return std::nullopt;
    // Spans: from each local header to the next one, or to the directory.
    std::vector<ManifestEntry*> byOffset;
    for (ManifestEntry& e : m.entries) byOffset.push_back(&e);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const auto* a, const auto* b) { return a->offset < b->offset; });
    for (std::size_t i = 0; i < byOffset.size(); ++i) {
        const std::uint64_t next =
            i + 1 < byOffset.size() ? byOffset[i + 1]->offset : m.directoryOffset;
        byOffset[i]->span = next - byOffset[i]->offset;
    }
    // Content hashes: the reader walks the directory in the same order.
    std::size_t next = 0;
    const bool read =
        zip.ReadContents([&](const ZipEntryInfo& info) -> std::unique_ptr<ContentSink> {
            while (next < m.entries.size() && (m.entries[next].offset != info.localOffset ||
                                               m.entries[next].name != info.name))
                ++next;
            if (next == m.entries.size()) return nullptr;
            return std::make_unique<Recorder>(m.entries[next].sha256);
        });
    if (!read) return std::nullopt;
    return m;
}

std::string FormatEntryManifest(const EntryManifest& m) {
    std::string text = std::string(kHeader) + "\npackage " + std::to_string(m.packageSize) + ' ' +
                       std::to_string(m.directoryOffset) + ' ' + m.directorySha256 + ' ' +
                       m.packageBlake2b + '\n';
    for (const ManifestEntry& e : m.entries) {
        std::array<char, 9> crc{};
        std::snprintf(crc.data(), crc.size(), "%08x", static_cast<unsigned>(e.crc));
        text += std::to_string(e.offset) + ' ' + std::to_string(e.span) + ' ' + crc.data() + ' ' +
                std::to_string(e.compressedSize) + ' ' + std::to_string(e.size) + ' ' + e.sha256 +
                ' ' + EncodeName(e.name) + '\n';
    }
    return text;
}

std::optional<EntryManifest> ParseEntryManifest(std::string_view text, std::string& problem) {
    const auto fail = [&](std::string why) -> std::optional<EntryManifest> {
        problem = std::move(why);
        return std::nullopt;
    };
    const auto nextLine = [&text]() -> std::optional<std::string_view> {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;  // a cut-off last line
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        return line;
    };
    if (nextLine() != kHeader) return fail("not an entry manifest of version 1");
    EntryManifest m;
    auto package = nextLine();
    if (!package || Field(*package) != "package" || !ParseNumber(Field(*package), m.packageSize) ||
        !ParseNumber(Field(*package), m.directoryOffset))
        return fail("no valid package line");
    m.directorySha256 = std::string(Field(*package));
    m.packageBlake2b = std::string(*package);
    if (!IsHash(m.directorySha256) || !IsHash(m.packageBlake2b, kBlake2bHex))
        return fail("no valid package line");
    for (std::size_t number = 3; !text.empty(); ++number) {
        const auto line = nextLine();
        auto entry = line ? ParseEntry(*line) : std::nullopt;
        if (!entry) return fail("line " + std::to_string(number) + " is no entry");
        m.entries.push_back(std::move(*entry));
    }
    if (!Consistent(m)) return fail("an entry lies outside the package's entries");
    return m;
}

bool DirectoryMatches(const EntryManifest& manifest, const std::string& file) {
    fileio::FileFacts facts;
    if (!fileio::StatFile(file, facts) || facts.size != manifest.packageSize) return false;
    const auto hash = FileRangeHash(file, manifest.directoryOffset, manifest.packageSize);
    return hash && *hash == manifest.directorySha256;
}

ContentSinkFor MatchManifest(const EntryManifest& manifest) {
    auto hashes = std::make_shared<std::unordered_map<std::string, std::string>>();
    for (const ManifestEntry& e : manifest.entries) hashes->emplace(e.name, e.sha256);
    return [hashes](const ZipEntryInfo& entry) -> std::unique_ptr<ContentSink> {
        const auto hit = hashes->find(entry.name);
        // An entry the manifest does not know is refused like a wrong one.
        return std::make_unique<Expect>(hit == hashes->end() ? std::string() : hit->second);
    };
}

}  // namespace talvane
