#include "net/minisign.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"

namespace talvane::net {

namespace {

constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeySize = 2 + kKeyIdSize + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t kSignatureSize = 2 + kKeyIdSize + crypto_sign_BYTES;
constexpr const char* kTrustedPrefix = "trusted comment: ";

Error Refused(std::string why) {
    return Error{1, std::move(why), Cause::Policy};
}

bool Decode(std::string_view text, std::vector<unsigned char>& out) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    out.assign(text.size(), 0);
    std::size_t length = 0;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length,
                          nullptr, sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    out.resize(length);
    return true;
}

// The lines of a .minisig file, line breaks and a final empty line dropped.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

// The fields of a trusted comment, separated by tabs.
SignedComment ParseComment(std::string_view comment) {
    SignedComment parsed;
    for (std::size_t at = 0; at <= comment.size();) {
        const std::size_t tab = std::min(comment.find('\t', at), comment.size());
        const std::string_view field = comment.substr(at, tab - at);
        at = tab + 1;
        if (field.rfind("file:", 0) == 0) {
            parsed.file = field.substr(5);
        } else if (field.rfind("timestamp:", 0) == 0) {
            const std::string_view digits = field.substr(10);
            std::uint64_t seconds = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
            const bool whole = error == std::errc() && end == digits.data() + digits.size();
            parsed.timestamp = whole ? std::optional(seconds) : std::nullopt;
        }
    }
    return parsed;
}

bool ReadyCrypto() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

bool IsMinisignPublicKey(std::string_view publicKey) {
    std::vector<unsigned char> key;
    return ReadyCrypto() && Decode(publicKey, key) && key.size() == kPublicKeySize &&
           key[0] == 'E' && key[1] == 'd';
}

namespace {

// Checks everything but the file itself; `verifyData` is given the key and the
// signature bytes and says whether they fit the file.
template <typename VerifyData>
Result<SignedComment> Verify(std::string_view signature, std::string_view publicKey,
                             VerifyData&& verifyData) {
    if (!ReadyCrypto()) return Refused("the signature library could not start");
    std::vector<unsigned char> key;
    if (!Decode(publicKey, key) || key.size() != kPublicKeySize || key[0] != 'E' || key[1] != 'd')
        return Refused("the public key in the settings is not a minisign key");

    const auto lines = Lines(signature);
    if (lines.size() < 4 || lines[0].rfind("untrusted comment:", 0) != 0 ||
        lines[2].rfind(kTrustedPrefix, 0) != 0)
        return Refused("the signature file is not in minisign format");
    std::vector<unsigned char> sig, global;
    if (!Decode(lines[1], sig) || sig.size() != kSignatureSize || !Decode(lines[3], global) ||
        global.size() != crypto_sign_BYTES)
        return Refused("the signature file is not in minisign format");
    const bool prehashed = sig[0] == 'E' && sig[1] == 'D';
    if (!prehashed && !(sig[0] == 'E' && sig[1] == 'd'))
        return Refused("the signature uses an unknown algorithm");
    if (!std::equal(sig.begin() + 2, sig.begin() + 2 + kKeyIdSize, key.begin() + 2))
        return Refused("the file was signed with another key");

    const unsigned char* pk = key.data() + 2 + kKeyIdSize;
    const unsigned char* sigBytes = sig.data() + 2 + kKeyIdSize;
    if (auto checked = verifyData(prehashed, sigBytes, pk); !checked) return checked.error();

    // The trusted comment is signed together with the signature itself.
    const std::string_view comment = lines[2].substr(std::string_view(kTrustedPrefix).size());
    std::vector<unsigned char> signedComment(sigBytes, sigBytes + crypto_sign_BYTES);
    signedComment.insert(signedComment.end(), comment.begin(), comment.end());
    if (crypto_sign_verify_detached(global.data(), signedComment.data(), signedComment.size(),
                                    pk) != 0)
        return Refused("the trusted comment of the signature was altered");
    return ParseComment(comment);
}

Result<void> Matches(int verified) {
    if (verified != 0) return Refused("the signature does not match the file");
    return {};
}

}  // namespace

Result<SignedComment> VerifyMinisign(std::string_view data, std::string_view signature,
                                     std::string_view publicKey) {
    return Verify(
        signature, publicKey,
        [&](bool prehashed, const unsigned char* sig, const unsigned char* pk) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
            if (!prehashed)
                return Matches(crypto_sign_verify_detached(sig, bytes, data.size(), pk));
            std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
            crypto_generichash(hash.data(), hash.size(), bytes, data.size(), nullptr, 0);
            return Matches(crypto_sign_verify_detached(sig, hash.data(), hash.size(), pk));
        });
}

Result<SignedComment> VerifyMinisignFile(const std::string& path, std::string_view signature,
                                         std::string_view publicKey) {
    return Verify(
        signature, publicKey,
        [&](bool prehashed, const unsigned char* sig, const unsigned char* pk) -> Result<void> {
            fileio::ReadOnlyFile file;
            if (file.Open(path) != fileio::ReadOnlyFile::OpenResult::Ok)
                return Refused("the downloaded file could not be read");
            if (!prehashed) {
                // The plain algorithm signs the whole message at once.
                if (file.Size() > kMaxPlainSignedFileSize)
                    return Refused("the file is " + std::to_string(file.Size()) +
                                   " bytes, too large for a plain (legacy) signature (at most " +
                                   std::to_string(kMaxPlainSignedFileSize) +
                                   "); sign it pre-hashed, as minisign does by default");
                std::string data(static_cast<std::size_t>(file.Size()), '\0');
                if (file.ReadAt(data.data(), data.size(), 0) != file.Size())
                    return Refused("the downloaded file could not be read");
                return Matches(crypto_sign_verify_detached(
                    sig, reinterpret_cast<const unsigned char*>(data.data()), data.size(), pk));
            }
            crypto_generichash_state state;
            std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
            crypto_generichash_init(&state, nullptr, 0, hash.size());
            std::vector<unsigned char> buffer(1 << 20);
            for (long long at = 0; at < file.Size();) {
                const long long n = file.ReadAt(buffer.data(), buffer.size(), at);
                if (n <= 0) return Refused("the downloaded file could not be read");
                crypto_generichash_update(&state, buffer.data(),
                                          static_cast<unsigned long long>(n));
                at += n;
            }
            crypto_generichash_final(&state, hash.data(), hash.size());
            return Matches(crypto_sign_verify_detached(sig, hash.data(), hash.size(), pk));
        });
}

Result<SignedComment> VerifyMinisignHash(std::string_view hash, std::string_view signature,
                                         std::string_view publicKey) {
    return Verify(
        signature, publicKey,
        [&](bool prehashed, const unsigned char* sig, const unsigned char* pk) -> Result<void> {
            if (!prehashed)
                return Refused(
                    "a plain (legacy) signature can only be checked with the whole file");
            if (hash.size() != crypto_generichash_BYTES_MAX)
                return Refused("the file's hash is not a BLAKE2b-512 hash");
            return Matches(crypto_sign_verify_detached(
                sig, reinterpret_cast<const unsigned char*>(hash.data()), hash.size(), pk));
        });
}

}  // namespace talvane::net
