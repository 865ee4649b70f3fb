// Minisign signatures, and no part left behind by an interrupted download.
#include "net/minisign.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <csignal>
#include <string>
#include <tuple>
#include <vector>

#include "net/ftp_curl.h"
#include "platform/interrupt.h"
#include "support/file_util.h"

namespace talvane::testing {
namespace {

// A key pair and one signed file, both signature algorithms.
class MinisignTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(tmp_.file("package.zip"), std::string(300000, 'p') + "end");
        key_ = MinisignKeyPair(tmp_.file("k"));
        ASSERT_FALSE(key_.empty());
        const std::string sign = "-S -s " + tmp_.file("k.key") + " -m " + tmp_.file("package.zip");
        ASSERT_EQ(Minisign(sign), 0);
        ASSERT_EQ(Minisign(sign + " -l -x " + tmp_.file("legacy.minisig")), 0);  // legacy format
    }
    std::string Data() const { return ReadFile(tmp_.file("package.zip")); }
    std::string Signature() const { return ReadFile(tmp_.file("package.zip.minisig")); }

    TempDir tmp_;
    std::string key_;
};

TEST_F(MinisignTest, BothAlgorithmsVerifyInMemoryAndFromTheFile) {
    std::string crlf = Signature();
    for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
        crlf.insert(at, "\r");
    for (const std::string& sig : {Signature(), ReadFile(tmp_.file("legacy.minisig")), crlf}) {
        const auto verified = net::VerifyMinisign(Data(), sig, key_);
        ASSERT_TRUE(verified);
        EXPECT_EQ(verified.value().file, "package.zip");
        EXPECT_TRUE(verified.value().timestamp);
        EXPECT_TRUE(net::VerifyMinisignFile(tmp_.file("package.zip"), sig, key_));
    }
    EXPECT_TRUE(net::IsMinisignPublicKey(key_));
    EXPECT_FALSE(net::IsMinisignPublicKey("RWQ"));
}

// Known only by its BLAKE2b-512 (an entry manifest's word): the pre-hashed signature is checked
// against that hash, a legacy one cannot be.
TEST_F(MinisignTest, APreHashedSignatureChecksAgainstTheFilesHashAlone) {
    std::string hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(),
                       reinterpret_cast<const unsigned char*>(Data().data()), Data().size(),
                       nullptr, 0);
    const auto verified = net::VerifyMinisignHash(hash, Signature(), key_);
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified.value().file, "package.zip");
    std::string other = hash;
    other[7] ^= 1;
    // (the hash, the signature, why it is refused)
    const std::vector<std::tuple<std::string, std::string, std::string>> refused = {
        {other, Signature(), "does not match"},
        {hash.substr(1), Signature(), "not a BLAKE2b-512"},
        {hash, ReadFile(tmp_.file("legacy.minisig")), "whole file"},
    };
    for (const auto& [h, sig, why] : refused) {
        const auto result = net::VerifyMinisignHash(h, sig, key_);
        ASSERT_FALSE(result) << why;
        EXPECT_NE(result.error().message.find(why), std::string::npos) << result.error().message;
    }
}

TEST_F(MinisignTest, RefusesEveryAlteration) {
    const std::string otherKey = MinisignKeyPair(tmp_.file("other"));
    std::string tamperedData = Data();
    tamperedData[1000] ^= 1;
    std::string alteredComment = Signature();
    alteredComment.insert(alteredComment.find("\ntrusted comment: ") + 18, "x");
    std::string flippedSig = Signature();
    const auto line2 = flippedSig.find('\n') + 1;
    flippedSig[line2 + 20] = flippedSig[line2 + 20] == 'A' ? 'B' : 'A';
    // A line cut to whole base64 groups still decodes, to fewer bytes than a signature holds.
    const auto cut = [&](int line) {
        std::string text = Signature();
        std::size_t start = 0;
        for (int i = 0; i < line; ++i) start = text.find('\n', start) + 1;
        return text.erase(start + 40, text.find('\n', start) - start - 40);
    };
    const auto line = [&](int n) {
        std::string text = Signature();
        for (int i = 0; i < n; ++i) text.erase(0, text.find('\n') + 1);
        return text.substr(0, text.find('\n')) + "\n";
    };
    const std::string l0 = line(0), l1 = line(1), l2 = line(2), l3 = line(3);
    const struct {
        const char* name;
        std::string data, signature, key, why;
    } cases[] = {
        {"first line missing", Data(), l1 + l2 + l3, key_, "format"},
        {"second line missing", Data(), l0 + l2 + l3, key_, "format"},
        {"third line missing", Data(), l0 + l1 + l3, key_, "format"},
        {"untrusted comment cut", Data(), l0.substr(0, 12) + "\n" + l1 + l2 + l3, key_, "format"},
        {"trusted prefix cut", Data(), l0 + l1 + l2.substr(0, 12) + "\n" + l3, key_, "format"},
        {"trusted comment cut", Data(), l0 + l1 + l2.substr(0, l2.size() - 4) + "\n" + l3, key_,
         "trusted comment"},
        {"signature of a global's length", Data(), l0 + l3 + l2 + l3, key_, "format"},
        {"signature line too long", Data(), l0 + l1.substr(0, 96) + l3 + l2 + l3, key_, "format"},
        {"global of a signature's length", Data(), l0 + l1 + l2 + l1, key_, "format"},
        {"signature line cut", Data(), cut(1), key_, "format"},
        {"global signature cut", Data(), cut(3), key_, "format"},
        {"last line missing", Data(),
         Signature().substr(0, Signature().rfind('\n', Signature().size() - 2)), key_, "format"},
        {"tampered file", tamperedData, Signature(), key_, "does not match"},
        {"legacy, tampered", tamperedData, ReadFile(tmp_.file("legacy.minisig")), key_,
         "does not match"},
        {"other key", Data(), Signature(), otherKey, "another key"},
        {"trusted comment", Data(), alteredComment, key_, "trusted comment"},
        {"signature bytes", Data(), flippedSig, key_, "does not match"},
        {"not a signature", Data(), "hello\n", key_, "format"},
        {"empty", Data(), "", key_, "format"},
        {"bad key", Data(), Signature(), "not base64!", "not a minisign key"},
    };
    for (const auto& c : cases) {
        const auto result = net::VerifyMinisign(c.data, c.signature, c.key);
        ASSERT_FALSE(result) << c.name;
        EXPECT_NE(result.error().message.find(c.why), std::string::npos)
            << c.name << ": " << result.error().message;
    }
    WriteFile(tmp_.file("package.zip"), tamperedData);
    EXPECT_FALSE(net::VerifyMinisignFile(tmp_.file("package.zip"), Signature(), key_));
    EXPECT_FALSE(net::VerifyMinisignFile(tmp_.file("missing.zip"), Signature(), key_));
}

// A signal mid-download: the hidden part goes, a committed file stays.
TEST(PartFileInterrupted, OnlyCommittedFilesStay) {
    TempDir dir;
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            net::PartFile part;
            if (!part.Create(dir.file("a.zip")) || !part.Write("PK", 2) || !part.Commit())
                std::_Exit(3);
            net::PartFile next;  // a second download under way
            if (!next.Create(dir.file("tekmoUpdate.zip")) || !next.Write("PK", 2)) std::_Exit(3);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{"a.zip"});
}

}  // namespace
}  // namespace talvane::testing
