// A correct signature must also name the file and not be older than one accepted before.
#include <gtest/gtest.h>

#include <string>

#include "app/installers.h"
#include "common/files.h"
#include "common/strings.h"
#include "net/minisign.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using SignatureBindingTest = WorkflowTest;

TEST_F(SignatureBindingTest, SignatureMustNameTheFileAndNotGoBackInTime) {
    session_.PublicKey = MinisignKeyPair(tmp_.file("k"));
    const std::string sign = "-S -s " + tmp_.file("k.key") + " -m ",
                      setups = web_ + "/Subscribers/";
    const std::string package = redist_ + "/Redist/tekmoUpdate.zip", bytes = ReadFile(package);
    const std::string old = redist_ + "/Redist/Tekmo_2.0.1.zip",
                      state = prog_ + "/Talvane.signatures";
    const std::string harlo = setups + kSubscriber + "/Harlo/HarloSetup.exe",
                      pellam = setups + kSubscriber + "/Pellam/PellamSetup.exe",
                      f = "\tfile:tekmoUpdate.zip";
    for (const std::string& file : {web_ + "/VelmoraUpdates.zip", repo_ + "/7za.zip", old, pellam,
                                    SubscriberHome() + "/Tekmo/Defs/tekmo_Defs.7z"})
        ASSERT_EQ(Minisign(sign + file), 0) << file;
    const struct {
        std::string file, bytes, signature, comment;  // no signature: made with -t `comment`
        const char *state, *why;                      // state: the remembered times, replaced first
    } cases[] = {
        {package, ReadFile(old), ReadFile(old + ".minisig"), "", nullptr,
         "the signature is for Tekmo_2.0.1.zip, not tekmoUpdate.zip"},
        {harlo, ReadFile(pellam), ReadFile(pellam + ".minisig"), "", nullptr,
         "the signature is for PellamSetup.exe, not HarloSetup.exe"},
        {package, bytes, "", "timestamp:2000000000" + f, nullptr, nullptr},
        {package, bytes, "", "timestamp:1999999999" + f, nullptr,
         "older than the one already accepted"},
        {package, bytes, "", f.substr(1) + "\ttimestamp:2000000000", nullptr, nullptr},
        {package, bytes, "", f.substr(1), nullptr, "carries no timestamp"},
        {package, bytes, "", f.substr(1) + "\ttimestamp:2000000009s", nullptr,
         "carries no timestamp"},
        {package, bytes, "", "timestamp:99999999999999999999" + f, nullptr, "carries no timestamp"},
        {package, bytes, "", "timestamp:7", nullptr, "does not name its file"},
        {package, bytes, "", "timestamp:100" + f, "2000000001x tekmoUpdate.zip\n\x01", nullptr},
        {package, bytes, std::string(16 * 1024 + 1, '#'), "", nullptr, "listed at 16385 bytes"},
        {package, std::string(net::kMaxPlainSignedFileSize + 1, 'z'), "", "timestamp:200" + f,
         nullptr, "too large for a plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why ? c.why : c.comment);
        ASSERT_TRUE(WriteFile(c.file, c.bytes) && (!c.state || WriteFile(state, c.state)));
        // The large file gets a plain signature, which would need it whole in memory.
        const char* plain = c.bytes.size() > net::kMaxPlainSignedFileSize ? " -l" : "";
        ASSERT_TRUE(c.signature.empty()
                        ? Minisign(sign + c.file + plain + " -t \"" + c.comment + "\"") == 0
                        : WriteFile(c.file + ".minisig", c.signature));
        frontend_.messages.clear();
        frontend_.activities.clear();
        c.file == harlo ? LoadedPresenter().OnInstall(app::Installer::Harlo)
                        : void(DownloadAndRunSet());
        const auto shown = frontend_.MessageTexts();
        const std::string refused = "The file " + StripPath(c.file) + " was refused: ";
        EXPECT_TRUE(c.why ? !shown.empty() && shown[0].rfind(refused, 0) == 0 &&
                                shown[0].find(c.why) != std::string::npos
                          : shown.empty())
            << ::testing::PrintToString(shown);
        // The updates package is checked first, then the file itself.
        const auto& steps = frontend_.activities;
        EXPECT_TRUE(steps.size() >= 2 && steps[0] == "Checking signature" && steps[1] == steps[0])
            << ::testing::PrintToString(steps);
    }
    // A signature of exactly the 16 KiB a signature may have (its untrusted comment padded) is
    // read.
    ASSERT_TRUE(WriteFile(package, bytes));
    ASSERT_EQ(Minisign(sign + package + " -t \"timestamp:100" + f + "\""), 0);
    std::string padded = ReadFile(package + ".minisig");
    padded.insert(padded.find('\n'), 16 * 1024 - padded.size(), ' ');
    ASSERT_TRUE(WriteFile(package + ".minisig", padded));
    frontend_.messages.clear();
    DownloadAndRunSet();
    EXPECT_TRUE(frontend_.MessageTexts().empty())
        << ::testing::PrintToString(frontend_.MessageTexts());
    EXPECT_NE(ReadFile(state).find("\n100 tekmoUpdate.zip\n"), std::string::npos);
    EXPECT_EQ(GetFileMode(state), 0600);
}

}  // namespace
}  // namespace talvane::testing
