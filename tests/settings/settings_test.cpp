#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <array>
#include <string>
#include <tuple>

#include "common/files.h"
#include "settings/endpoints.h"
#include "settings/session.h"
#include "settings/stored_settings.h"
#include "support/file_util.h"
#include "support/log_capture.h"
#include "talvane/version.h"

namespace talvane {
namespace {

using testing::TempDir;
using namespace std::literals;

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}
std::string Text(const std::vector<std::uint8_t>& b) {
    return {b.begin(), b.end()};
}

TEST(Ascii85, VectorsEncodeAndDecodeWithAndWithoutDelimiters) {
    // Produced independently with Python's base64.a85encode.
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"Man ", "9jqo^"}, {"Man is", "9jqo^Bla"}, {"\0\0\0\0"s, "z"}, {"\0"s, "!!"},
        {"\0\0\0\0\0"s, "z!!"}, {"\xff\xff\xff\xff", "s8W-!"}, {"\0\0\0\1"s, "!!!!\""},
        {"hello world", "BOu!rD]j7BEbo7"}};
    // clang-format on
    for (const auto& [plain, encoded] : cases) {
        for (const bool framed : {false, true}) {
            const std::string text = (framed ? "<~" : "") + encoded + "~>";
            std::vector<std::uint8_t> out, back;
            ASSERT_TRUE(Ascii85Encode(Bytes(plain), out, framed));
            EXPECT_EQ(Text(out), text);
            ASSERT_TRUE(Ascii85Decode(Bytes(text), back));
            EXPECT_EQ(Text(back), plain) << text;
        }
    }
    EXPECT_EQ(Ascii85EncodeString("Man ", true), "<~9jqo^~>");
}

TEST(Ascii85, DecodeEdgesAndStride) {
    std::vector<std::uint8_t> out;
    // A leading '<' is a digit unless '~' follows; whitespace and control bytes
    // are skipped; text after "~>" is ignored.
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"<)Z[m~>", "TSRR"}, {"<~<)Z[m~>", "TSRR"}, {"  9jq\r\n\to^\n Bla ~>", "Man is"},
        {"9j\0qo^~>trailing ignored"s, "Man "}};
    // clang-format on
    for (const auto& [text, plain] : cases) {
        ASSERT_TRUE(Ascii85Decode(Bytes(text), out)) << text;
        EXPECT_EQ(Text(out), plain) << text;
    }
    for (const char* bad :
         {"9jqo^", "9jqo^~", "9jqo^~x", "<~9jqo^", "9jzqo~>", "9jqo^v~>", "9jqo^\xff~>", ""})
        EXPECT_FALSE(Ascii85Decode(Bytes(bad), out)) << bad;
    EXPECT_FALSE(Ascii85Encode(Bytes("x"), out, false, 0));

    // Stride 2 reads text laid out as two-byte characters.
    ASSERT_TRUE(Ascii85Decode({'9', 0, 'j', 0, 'q', 0, 'o', 0, '^', 0, '~', 0, '>', 0}, out, 2));
    EXPECT_EQ(Text(out), "Man ");
    ASSERT_TRUE(Ascii85Encode({'M', 0, 'a', 0, 'n', 0, ' ', 0}, out, false, 2));
    EXPECT_EQ(Text(out), "9jqo^~>");
}

TEST(Scrambler, StoredFormsRoundTripsAndInvalidText) {
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"", "<)W~>"}, {"ab", "<)Z[m~>"}, {"abc", "<)Z[k<W~>"}, {"secret", "<'aM\\78ur[~>"},
        {"xyz7185q", "<(]_Rz6W!~>"}, {"Tovex%hn52", "<+]K+;Fqm7>Qk./~>"}};
    // clang-format on
    for (const auto& [plain, stored] : cases) {
        EXPECT_EQ(ScrambleString(plain), stored);
        EXPECT_EQ(UnscrambleString(stored), plain);
    }
    for (const char* invalid : {"<)Z[m", "plain!", "", "!~>"})
        EXPECT_EQ(UnscrambleString(invalid), "") << invalid;
    const std::string high = "\xe4\xf6\xfc\x01\x7f";
    EXPECT_EQ(UnscrambleString(ScrambleString(high)), high);
}

class IniTest : public ::testing::Test {
  protected:
    std::string Ini() const { return dir_.file("Talvane.ini"); }
    std::string Content() const { return testing::ReadFile(Ini()); }
    void SetContent(const std::string& text) { ASSERT_TRUE(WriteFileAtomic(Ini(), text, 0640)); }
    TempDir dir_;
};

TEST_F(IniTest, ReadIsCaseInsensitiveTrimmedCutAndEmptyWhenMissing) {
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "");
    SetContent(
        "UserName=before any section\r\n; settings\r\n[tekmocloud]\r\n  USERNAME =  tech one  "
        "\r\nquoted=\"  q  \"\r\nempty=''\r\nlone=\"\r\n"
        "long=" +
        std::string(300, 'L') + "\r\n[Next]\r\nusername=other\r\nRedistHost=h\r\n");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "tech one");
    EXPECT_EQ(ReadIniValue(Ini(), "TEKMOCLOUD", "Quoted"), "  q  ");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "empty"), "");   // a pair of quotes alone
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "lone"), "\"");  // one quote is no pair
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "long"), std::string(254, 'L'));
    EXPECT_EQ(ReadIniValue(Ini(), "next", "UserName"), "other");
    EXPECT_FALSE(FindIniValue(Ini(), "TekmoCloud", "RedistHost"));  // only the next section has it
    EXPECT_EQ(ReadIniValue(Ini(), "Other", "UserName"), "");
}

#ifdef _WIN32
// Windows has no owner-only mode bits: its mode shows only the read-only attribute.
constexpr unsigned kPrivate = 0666, kReadOnly = 0444;
#else
constexpr unsigned kPrivate = 0600, kReadOnly = 0400;
#endif

TEST_F(IniTest, WriteCreatesPrivateFileOrEditsInPlace) {
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "tech"));
    EXPECT_EQ(Content(), "[TekmoCloud]\nUserName=tech\n");
    EXPECT_EQ(GetFileMode(Ini()), kPrivate);
    // Comments and line ends stay; a new key goes after the section's last entry,
    // not into the next section's comment; a byte order mark stays put.
    const std::pair<std::string, std::string> cases[] = {
        {"; comment stays\r\n[TekmoCloud]\r\nusername=old\r\n; inner\r\nDefaultConfig=O\r\n\r\n"
         "[Endpoints]\r\nRedistHost=h\r\n",
         "; comment stays\r\n[TekmoCloud]\r\nusername=new\r\n; inner\r\nDefaultConfig=O\r\n"
         "Password=<)Z[m~>\r\n\r\n[Endpoints]\r\nRedistHost=h\r\n[Extra]\r\nKey=v\r\n"},
        {"[TekmoCloud]\nUserName=old\n\n; srv\n[Endpoints]\n",
         "[TekmoCloud]\nUserName=new\nPassword=<)Z[m~>\n\n; srv\n[Endpoints]\n[Extra]\nKey=v\n"},
        {"\xEF\xBB\xBF[TekmoCloud]\r\nUserName=old\r\n",
         "\xEF\xBB\xBF[TekmoCloud]\r\nUserName=new\r\nPassword=<)Z[m~>\r\n[Extra]\r\nKey=v\r\n"}};
    for (const auto& [before, after] : cases) {
        SetContent(before);
        EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "old");
        ASSERT_TRUE(WriteIniValue(Ini(), "TEKMOCLOUD", "UserName", "new"));
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", "<)Z[m~>"));
        ASSERT_TRUE(WriteIniValue(Ini(), "Extra", "Key", "v"));
        EXPECT_EQ(Content(), after);
        EXPECT_EQ(GetFileMode(Ini()), kPrivate);  // tightened to the owner, never loosened
    }
    EXPECT_EQ(testing::ListNames(dir_.path()), std::vector<std::string>{"Talvane.ini"});
}

TEST_F(IniTest, WriteRefusesLineBreaksFoldersPipesAndMissingFolder) {
    EXPECT_FALSE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "a\nPassword=x"));
    EXPECT_FALSE(WriteIniValue(Ini(), "Tekmo\nCloud", "UserName", "a"));
    EXPECT_FALSE(WriteIniValue(dir_.file("none/Talvane.ini"), "TekmoCloud", "UserName", "a"));
    EXPECT_FALSE(
        WriteIniValue(Ini(), "TekmoCloud", "UserName", std::string(kMaxValueLength + 1, 'u')));
    EXPECT_FALSE(testing::Exists(Ini()));
    EXPECT_TRUE(WriteIniValue(dir_.file("cap.ini"), "A", "B", std::string(kMaxValueLength, 'u')));
    ASSERT_TRUE(MakeSureDirExists(dir_.file("folder.ini")));
    EXPECT_FALSE(WriteIniValue(dir_.file("folder.ini"), "TekmoCloud", "UserName", "a"));
    EXPECT_TRUE(DoesDirExist(dir_.file("folder.ini")));
    EXPECT_EQ(SettingsFileProblem(dir_.file("folder.ini")), "it is not a regular file");
    EXPECT_FALSE(SettingsFileProblem(Ini()));  // missing: the first start
#ifndef _WIN32
    // A named pipe in place of the file does not hang.
    ASSERT_EQ(::mkfifo(Ini().c_str(), 0600), 0);
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "");
    EXPECT_FALSE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "tech"));
    ASSERT_EQ(::symlink("nowhere", dir_.file("link.ini").c_str()), 0);
    EXPECT_EQ(SettingsFileProblem(dir_.file("link.ini")), "it is a link to nothing");
#endif
}

TEST_F(IniTest, ReadOnlyFileIsNotRewritten) {
    SetContent("[TekmoCloud]\nUserName=tech\n");
    ASSERT_EQ(::chmod(Ini().c_str(), 0400), 0);
    auto scenario = [&] { return !WriteIniValue(Ini(), "TekmoCloud", "UserName", "other"); };
#ifdef _WIN32
    const int rc = scenario() ? 0 : 1;  // the read-only attribute binds everyone
#else
    if (::geteuid() == 0) {  // root may write anything; the owner of folder and file may not
        ASSERT_EQ(::chown(dir_.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(Ini().c_str(), 65534, 65534), 0);
    }
    const int rc = ::geteuid() == 0 ? testing::RunAsNobody(scenario) : scenario() ? 0 : 1;
#endif
    TALVANE_REQUIRE(rc != 3, "could not give up root");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Content(), "[TekmoCloud]\nUserName=tech\n");
    EXPECT_EQ(GetFileMode(Ini()), kReadOnly);
}

TEST_F(IniTest, LoadSettingsNeedsAllThreeCredentials) {
    Session session;
    session.SettingsFile = Ini();
    EXPECT_FALSE(LoadSettings(session));  // no file at all
    // An empty password is missing, one typed by hand unreadable.
    const std::array<std::string, 4> cases[] = {{"tech", ScrambleString("pa ss"), "zip#1", "1"},
                                                {"tech", ScrambleString("pw"), "", ""},
                                                {"tech", "typed by hand", "zip", ""}};
    for (const auto& [user, password, zip, ok] : cases) {
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "UserName", user));
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", password));
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "ZipPassword", ScrambleString(zip)));
        EXPECT_EQ(LoadSettings(session), !ok.empty()) << password;
        EXPECT_EQ(session.UserName + "|" + session.Password + "|" + session.ZipPassword,
                  user + "|" + UnscrambleString(password) + "|" + zip);
    }
}

// Each key in its section, scrambled if secret; exactly its length is stored, one more refused.
TEST_F(IniTest, StoredKeysKeepTheirSectionFormAndLength) {
    const struct {
        StoredKey key;
        const char *section, *name;
        bool scrambled;
        std::size_t limit;
    } keys[] = {{StoredKey::UserName, "TekmoCloud", "UserName", false, kMaxNameLength},
                {StoredKey::Password, "TekmoCloud", "Password", true, kMaxSecretLength},
                {StoredKey::ZipPassword, "tekmocloud", "ZipPassword", true, kMaxSecretLength},
                {StoredKey::DefaultConfig, "TekmoCloud", "DefaultConfig", false, kMaxNameLength},
                {StoredKey::DefaultPath, "TekmoCloud", "defaultpath", false, kMaxNameLength},
                {StoredKey::PublicKey, "Security", "PublicKey", false, kIniValueLimit}};
    for (const auto& k : keys) {
        const std::string longest(k.limit, 'v');
        ASSERT_TRUE(WriteStored(Ini(), k.key, longest));
        EXPECT_FALSE(WriteStored(Ini(), k.key, longest + "v"));
        EXPECT_EQ(ReadStored(Ini(), k.key), longest);
        const auto raw = FindIniValue(Ini(), k.section, k.name, std::string::npos);
        EXPECT_EQ(raw, k.scrambled ? ScrambleString(longest) : longest);
    }
}

// Nor does a save grow a file past what is read: "Password=p\n" adds 11 bytes.
TEST_F(IniTest, OversizedFilesAreNeitherReadNorRewritten) {
    const std::string head = "[TekmoCloud]\nUserName=tech\n;";
    const std::size_t limit = 1u << 20;
    for (const std::size_t size : {limit - 11, limit - 10, limit + 1}) {
        SCOPED_TRACE(size);
        const std::string text = head + std::string(size - head.size() - 1, 'x') + "\n";
        SetContent(text);
        testing::LogCapture log;
        const bool fits = size <= limit, grows = size + 11 <= limit;
        EXPECT_EQ(FindIniValue(Ini(), "TekmoCloud", "UserName").has_value(), fits);
        EXPECT_EQ(SettingsFileProblem(Ini()).has_value(), !fits);
        EXPECT_EQ(WriteIniValue(Ini(), "TekmoCloud", "Password", "p"), grows);
        EXPECT_EQ(log.contains("settings file " + Ini() + " refused"), !fits);
        EXPECT_EQ(Content().size(), grows ? limit : size);
    }
}

#ifndef _WIN32
// Saving replaces the file: only a file of ours, or our link to one, is saved; no owner changes.
TEST_F(IniTest, SavesOnlyTheRunningUsersFileOrLink) {
    TALVANE_REQUIRE(::geteuid() == 0, "files of another user need root");
    const std::string target = dir_.file("target.ini"), before = "[TekmoCloud]\nUserName=old\n";
    const std::tuple<bool, uid_t, uid_t> cases[] = {
        {true, 0, 0}, {true, 0, 65534}, {true, 65534, 0}, {false, 0, 65534}};
    for (const auto& [link, linkOwner, fileOwner] : cases) {
        SCOPED_TRACE(std::to_string(linkOwner) + " " + std::to_string(fileOwner));
        const std::string file = link ? target : Ini();
        ::unlink(Ini().c_str());
        ASSERT_TRUE(testing::WriteFile(file, before) && ::chown(file.c_str(), fileOwner, 0) == 0);
        if (link) {
            ASSERT_TRUE(::symlink(target.c_str(), Ini().c_str()) == 0 &&
                        ::lchown(Ini().c_str(), linkOwner, 0) == 0);
        }
        const bool ours = linkOwner == 0 && fileOwner == 0;
        EXPECT_EQ(WriteIniValue(Ini(), "TekmoCloud", "UserName", "new"), ours);
        EXPECT_EQ(testing::ReadFile(file), ours ? "[TekmoCloud]\nUserName=new\n" : before);
        struct stat st {};
        EXPECT_TRUE(::stat(file.c_str(), &st) == 0 && st.st_uid == fileOwner);
        EXPECT_EQ(IsSymbolicLink(Ini()), link);
    }
}
#endif

TEST_F(IniTest, EndpointsOverrideTheDefaultsKeyByKey) {
    const std::string R = version::kDefaultRepositoryHost, D = version::kDefaultRedistHost,
                      U = version::kDefaultUpdatesUrl, S = version::kDefaultSubscriberUrl,
                      M = version::kDefaultSevenZipMirrorUrl;
    const std::pair<std::string, Endpoints> cases[] = {
        {"RepositoryHost=r:21\nRedistHost=d\nUpdatesURL=u\nSubscriberURL=s\nSevenZipMirrorURL=m\n"
         "LowSpeedLimit=2048\nLowSpeedTime=15\nSevenZipMirrorSHA256=ab12\nFtpTls=Required\n"
         "FtpCaFile=/ca.pem",
         {"r:21", "d", "u", "s", "m", 2048, 15, "ab12", true, FtpTls::Required, "/ca.pem"}},
        // Empty hosts keep theirs; an empty update or mirror address switches it off.
        {"RepositoryHost=\nRedistHost=\nUpdatesURL=\nSubscriberURL=\nSevenZipMirrorURL=\n"
         "LowSpeedLimit=\nLowSpeedTime=\nSevenZipMirrorSHA256=",
         {R, D, "", S, "", 1024, 60}},
        {"LowSpeedLimit=0\nLowSpeedTime=abc\nFtpTls= tRY ",
         {R, D, U, S, M, 1024, 60, {}, true, FtpTls::Try}},
        {"LowSpeedLimit=12x\nLowSpeedTime=-5\nFtpTls=yes\n[Other]\nRedistHost=d",
         {R, D, U, S, M, 1024, 60}},
        {"SkipUnchanged= 0\nDeltaDownloads= 0 ",
         {R, D, U, S, M, 1024, 60, {}, false, FtpTls::Off, {}, 120, false}},
        {"DeltaDownloads=no", {R, D, U, S, M, 1024, 60}},
        {"LowSpeedLimit=1\nLowSpeedTime=1\nBusyRetrySeconds=0",
         {R, D, U, S, M, 1, 1, {}, true, FtpTls::Off, {}, 0}},
    };
    const auto fields = [](const Endpoints& e) {
        return std::make_tuple(e.RepositoryHost, e.RedistHost, e.UpdatesURL, e.SubscriberURL,
                               e.SevenZipMirrorURL, e.LowSpeedLimit, e.LowSpeedTime,
                               e.SevenZipMirrorSHA256, e.FtpTls, e.FtpCaFile, e.SkipUnchanged,
                               e.BusyRetrySeconds, e.DeltaDownloads);
    };
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text);
        SetContent("[Endpoints]\n" + text);
        EXPECT_EQ(fields(LoadEndpoints(Ini())), fields(want));
    }
}

}  // namespace
}  // namespace talvane
