// libFuzzer target for the signature reader: any input is checked as a .minisig
// file for fixed data and key, and also spliced into a valid signature so the
// later steps (key id, both signatures, the trusted comment's fields) are reached.
// A signature that verifies must report the comment that was actually signed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/minisign.h"

namespace {

constexpr std::string_view kData = "talvane fuzz data\n";
constexpr std::string_view kPublicKey = "RWRhXUuj2rmtKlSR61gNAVpOz1HuT7vgNZNQ59+UJ22mIdXIOJOF/dED";
constexpr std::string_view kSignature =
    "untrusted comment: signature from minisign secret key\n"
    "RURhXUuj2rmtKgrys4sdnUGtDeb7Apb5XgEqW1evrA858k/"
    "zssCKcbegH1BWpRbov/Uym2K51H6D5PrqUqfZQQVQ2eiX4EpJFQI=\n"
    "trusted comment: timestamp:1700000000\tfile:data.bin\thashed\n"
    "zfq/kW8gp2OJc6yQMlLmWFfsES97uUgNOGGyGA/OBbrfN5qYRtuAo75HR7wTHxmyEyhGrJkOdxgWPGMyLPlnAA==\n";

void Check(std::string_view signature) {
    const auto verified = talvane::net::VerifyMinisign(kData, signature, kPublicKey);
    if (verified && (verified.value().file != "data.bin" ||
                     verified.value().timestamp != std::uint64_t{1700000000})) {
        std::fprintf(stderr, "a verified signature reported another comment\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Check(input);
    if (size == 0) {
        // The fixed data, key and signature belong together, or nothing deep is reached.
        if (!talvane::net::VerifyMinisign(kData, kSignature, kPublicKey)) std::abort();
        return 0;
    }
    // The first byte picks where the rest replaces as many bytes of the valid signature.
    std::string spliced(kSignature);
    const std::size_t at = data[0] % spliced.size();
    spliced.replace(at, std::min(size - 1, spliced.size() - at), input.substr(1));
    Check(spliced);
    return 0;
}
