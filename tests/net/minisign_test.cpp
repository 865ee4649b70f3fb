// Signatures made by the stock minisign tool, checked by the launcher.
#include "net/minisign.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane::testing {
namespace {

// A key pair and one signed file, both signature algorithms.
class MinisignTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(tmp_.file("package.zip"), std::string(300000, 'p') + "end");
        ASSERT_EQ(Minisign("-G -W -p " + tmp_.file("k.pub") + " -s " + tmp_.file("k.key")), 0);
        ASSERT_EQ(Minisign("-S -s " + tmp_.file("k.key") + " -m " + tmp_.file("package.zip")), 0);
        ASSERT_EQ(Minisign("-S -l -s " + tmp_.file("k.key") + " -m " + tmp_.file("package.zip") +
                           " -x " + tmp_.file("legacy.minisig")),
                  0);
        key_ = KeyLine(tmp_.file("k.pub"));
    }
    static int Minisign(const std::string& args) {
        return std::system(("minisign " + args + " >/dev/null 2>&1 </dev/null").c_str());
    }
    static std::string KeyLine(const std::string& pub) {
        const std::string text = ReadFile(pub);
        const auto start = text.find('\n') + 1;
        return text.substr(start, text.find('\n', start) - start);
    }
    std::string Data() const { return ReadFile(tmp_.file("package.zip")); }
    std::string Signature() const { return ReadFile(tmp_.file("package.zip.minisig")); }

    TempDir tmp_;
    std::string key_;
};

TEST_F(MinisignTest, BothAlgorithmsVerifyInMemoryAndFromTheFile) {
    for (const std::string& sig : {Signature(), ReadFile(tmp_.file("legacy.minisig"))}) {
        EXPECT_TRUE(net::VerifyMinisign(Data(), sig, key_));
        EXPECT_TRUE(net::VerifyMinisignFile(tmp_.file("package.zip"), sig, key_));
    }
    EXPECT_TRUE(net::IsMinisignPublicKey(key_));
    EXPECT_FALSE(net::IsMinisignPublicKey("RWQ"));
}

TEST_F(MinisignTest, RefusesEveryAlteration) {
    ASSERT_EQ(Minisign("-G -W -f -p " + tmp_.file("other.pub") + " -s " + tmp_.file("other.key")),
              0);
    std::string tamperedData = Data();
    tamperedData[1000] ^= 1;
    std::string alteredComment = Signature();
    alteredComment.insert(alteredComment.find("\ntrusted comment: ") + 18, "x");
    std::string flippedSig = Signature();
    const auto line2 = flippedSig.find('\n') + 1;
    flippedSig[line2 + 20] = flippedSig[line2 + 20] == 'A' ? 'B' : 'A';
    const struct {
        const char* name;
        std::string data, signature, key, why;
    } cases[] = {
        {"tampered file", tamperedData, Signature(), key_, "does not match"},
        {"legacy, tampered", tamperedData, ReadFile(tmp_.file("legacy.minisig")), key_,
         "does not match"},
        {"other key", Data(), Signature(), KeyLine(tmp_.file("other.pub")), "another key"},
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

}  // namespace
}  // namespace talvane::testing
