#include "startup/settings.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/app_paths.h"
#include "common/files.h"
#include "startup/app_state.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::TempDir;

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}
std::string Text(const std::vector<std::uint8_t>& b) {
    return {b.begin(), b.end()};
}

// Vectors produced independently with Python's base64.a85encode.
struct A85Case {
    std::string plain;
    std::string encoded;  // without delimiters
};

class Ascii85Vectors : public ::testing::TestWithParam<A85Case> {};

TEST_P(Ascii85Vectors, EncodeAndDecode) {
    const auto& c = GetParam();
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(Ascii85Encode(Bytes(c.plain), out, false));
    EXPECT_EQ(Text(out), c.encoded + "~>");
    ASSERT_TRUE(Ascii85Encode(Bytes(c.plain), out, true));
    EXPECT_EQ(Text(out), "<~" + c.encoded + "~>");
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(Ascii85Decode(Bytes(c.encoded + "~>"), back));
    EXPECT_EQ(Text(back), c.plain);
    ASSERT_TRUE(Ascii85Decode(Bytes("<~" + c.encoded + "~>"), back));
    EXPECT_EQ(Text(back), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Table, Ascii85Vectors,
                         ::testing::Values(A85Case{"", ""}, A85Case{"Man ", "9jqo^"},
                                           A85Case{"Man is", "9jqo^Bla"},
                                           A85Case{std::string(4, '\0'), "z"},
                                           A85Case{std::string(1, '\0'), "!!"},
                                           A85Case{std::string(5, '\0'), "z!!"},
                                           A85Case{std::string(4, '\xff'), "s8W-!"},
                                           A85Case{std::string("\0\0\0\1", 4), "!!!!\""},
                                           A85Case{"hello world", "BOu!rD]j7BEbo7"}));

TEST(Ascii85, LeadingLessThanIsADigitUnlessTildeFollows) {
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(Ascii85Decode(Bytes("<)Z[m~>"), out));
    EXPECT_EQ(out.size(), 4u);
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(Ascii85Decode(Bytes("<~<)Z[m~>"), again));
    EXPECT_EQ(again, out);
}

TEST(Ascii85, StringWrapperOnEmptyText) {
    EXPECT_EQ(Ascii85EncodeString(""), "~>");
    EXPECT_EQ(Ascii85EncodeString("", true), "<~~>");
}

TEST(Ascii85, DecodeSkipsWhitespaceAndControlBytes) {
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(Ascii85Decode(Bytes("  9jq\r\n\to^\n Bla ~>"), out));
    EXPECT_EQ(Text(out), "Man is");
    ASSERT_TRUE(Ascii85Decode(Bytes(std::string("9j\0qo^~>trailing ignored", 24)), out));
    EXPECT_EQ(Text(out), "Man ");
}

TEST(Ascii85, DecodeRejectsBadInput) {
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(Ascii85Decode(Bytes("9jqo^"), out));        // no terminator
    EXPECT_FALSE(Ascii85Decode(Bytes("9jqo^~"), out));       // '~' without '>'
    EXPECT_FALSE(Ascii85Decode(Bytes("9jqo^~x"), out));      // '~' then something else
    EXPECT_FALSE(Ascii85Decode(Bytes("<~9jqo^"), out));      // opened, never closed
    EXPECT_FALSE(Ascii85Decode(Bytes("9jzqo~>"), out));      // 'z' inside a group
    EXPECT_FALSE(Ascii85Decode(Bytes("9jqo^v~>"), out));     // above 'u'
    EXPECT_FALSE(Ascii85Decode(Bytes("9jqo^\xff~>"), out));  // high byte
    EXPECT_FALSE(Ascii85Decode(Bytes(""), out));
    EXPECT_FALSE(Ascii85Encode(Bytes("x"), out, false, 0));
}

TEST(Ascii85, StrideReadsEveryOtherByte) {
    // Text laid out as two-byte characters.
    std::vector<std::uint8_t> wide;
    for (char c : std::string("9jqo^~>")) {
        wide.push_back(static_cast<std::uint8_t>(c));
        wide.push_back(0);
    }
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(Ascii85Decode(wide, out, 2));
    EXPECT_EQ(Text(out), "Man ");
    std::vector<std::uint8_t> wideMan = {'M', 0, 'a', 0, 'n', 0, ' ', 0};
    ASSERT_TRUE(Ascii85Encode(wideMan, out, false, 2));
    EXPECT_EQ(Text(out), "9jqo^~>");
}

TEST(Ascii85, EmitGroupWritesFiveDigitsOrZ) {
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    EmitAscii85Group(0, out, pos, false);
    EmitAscii85Group(0, out, pos, true);
    EmitAscii85Group(0xFFFFFFFFu, out, pos, false);
    EXPECT_EQ(pos, 11u);
    EXPECT_EQ(Text(out), "z!!!!!s8W-!");
}

struct ScrambleCase {
    std::string plain;
    std::string stored;
};

class Scrambler : public ::testing::TestWithParam<ScrambleCase> {};

TEST_P(Scrambler, MatchesStoredFormAndRoundTrips) {
    const auto& c = GetParam();
    EXPECT_EQ(ScrambleString(c.plain), c.stored);
    EXPECT_EQ(UnscrambleString(c.stored), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Table, Scrambler,
                         ::testing::Values(ScrambleCase{"", "<)W~>"},
                                           ScrambleCase{"ab", "<)Z[m~>"},     // 5 chars + "~>"
                                           ScrambleCase{"abc", "<)Z[k<W~>"},  // 7 chars + "~>"
                                           ScrambleCase{"secret", "<'aM\\78ur[~>"},
                                           ScrambleCase{"xyz7185q", "<(]_Rz6W!~>"},  // zero group
                                           ScrambleCase{"Tovex%hn52", "<+]K+;Fqm7>Qk./~>"}));

TEST(Scrambler, StoredVariantsAndInvalidText) {
    EXPECT_EQ(UnscrambleString("<~<)Z[m~>"), "ab");
    EXPECT_EQ(UnscrambleString("  <)Z\r\n  [m ~>"), "ab");
    EXPECT_EQ(UnscrambleString("<)Z[m"), "");   // no terminator
    EXPECT_EQ(UnscrambleString("plain!"), "");  // typed by hand
    EXPECT_EQ(UnscrambleString(""), "");
    EXPECT_EQ(UnscrambleString("!~>"), "");  // decodes to nothing
    std::string high = "\xe4\xf6\xfc\x01\x7f";
    EXPECT_EQ(UnscrambleString(ScrambleString(high)), high);
}

class IniTest : public ::testing::Test {
  protected:
    std::string Ini() const { return dir_.file("Talvane.ini"); }
    std::string Content() const {
        std::string text;
        return ReadWholeFile(Ini(), text) ? text : "<missing>";
    }
    void SetContent(const std::string& text) { ASSERT_TRUE(WriteFileAtomic(Ini(), text, 0640)); }
    TempDir dir_;
};

TEST_F(IniTest, MissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "");
    SetContent("[Other]\nUserName=x\n");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "");
    EXPECT_EQ(ReadIniValue(Ini(), "Other", "Password"), "");
    EXPECT_FALSE(FindIniValue(Ini(), "Other", "Password").has_value());
    EXPECT_EQ(FindIniValue(Ini(), "Other", "UserName").value_or("?"), "x");
}

TEST_F(IniTest, ReadIsCaseInsensitiveTrimmedAndCut) {
    SetContent(
        "; settings\r\n[tekmocloud]\r\n  USERNAME =  tech one  \r\nquoted=\"  q  \"\r\n"
        "long=" +
        std::string(300, 'L') + "\r\n[Next]\r\nusername=other\r\n");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "tech one");
    EXPECT_EQ(ReadIniValue(Ini(), "TEKMOCLOUD", "Quoted"), "  q  ");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "long"), std::string(254, 'L'));
    EXPECT_EQ(ReadIniValue(Ini(), "next", "UserName"), "other");
}

TEST_F(IniTest, WriteCreatesFileWithPrivateMode) {
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "tech"));
    EXPECT_EQ(Content(), "[TekmoCloud]\nUserName=tech\n");
    EXPECT_EQ(GetFileMode(Ini()), 0600);
    EXPECT_EQ(ReadIniValue(Ini(), "tekmocloud", "username"), "tech");
}

TEST_F(IniTest, WriteEditsInPlaceKeepingEverythingElse) {
    SetContent(
        "; comment stays\r\n[TekmoCloud]\r\nusername=old\r\n; inner comment\r\n"
        "DefaultConfig=Office\r\n\r\n[Endpoints]\r\nRedistHost=h\r\n");
    ASSERT_TRUE(WriteIniValue(Ini(), "TEKMOCLOUD", "UserName", "new"));
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", "<)Z[m~>"));
    ASSERT_TRUE(WriteIniValue(Ini(), "Extra", "Key", "v"));
    EXPECT_EQ(Content(),
              "; comment stays\r\n[TekmoCloud]\r\nusername=new\r\n; inner comment\r\n"
              "DefaultConfig=Office\r\nPassword=<)Z[m~>\r\n\r\n[Endpoints]\r\nRedistHost=h\r\n"
              "[Extra]\r\nKey=v\r\n");
    EXPECT_EQ(GetFileMode(Ini()), 0640);  // an existing file keeps its mode
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Talvane.ini"});  // no temporary file left
}

TEST_F(IniTest, WriteRefusesLineBreaksAndMissingFolder) {
    EXPECT_FALSE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "a\nPassword=x"));
    EXPECT_FALSE(WriteIniValue(Ini(), "Tekmo\nCloud", "UserName", "a"));
    EXPECT_FALSE(WriteIniValue(dir_.file("none/Talvane.ini"), "TekmoCloud", "UserName", "a"));
    EXPECT_EQ(Content(), "<missing>");
    ASSERT_TRUE(MakeSureDirExists(dir_.file("folder.ini")));
    EXPECT_FALSE(WriteIniValue(dir_.file("folder.ini"), "TekmoCloud", "UserName", "a"));
    EXPECT_TRUE(DoesDirExist(dir_.file("folder.ini")));
}

TEST_F(IniTest, NewKeyGoesAfterTheLastEntryNotIntoTheNextSectionsComment) {
    SetContent(
        "[TekmoCloud]\nUserName=tech\n\n; where the servers are\n[Endpoints]\nRedistHost=h\n");
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", "<)Z[m~>"));
    EXPECT_EQ(Content(),
              "[TekmoCloud]\nUserName=tech\nPassword=<)Z[m~>\n\n; where the servers are\n"
              "[Endpoints]\nRedistHost=h\n");
}

TEST_F(IniTest, ByteOrderMarkIsNotPartOfTheFirstSection) {
    SetContent("\xEF\xBB\xBF[TekmoCloud]\r\nUserName=tech\r\n");
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "tech");
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "other"));
    // Edited in place: no second section, the mark stays where it was.
    EXPECT_EQ(Content(), "\xEF\xBB\xBF[TekmoCloud]\r\nUserName=other\r\n");
}

TEST_F(IniTest, LinkedFileIsEditedWhereItLives) {
    ASSERT_TRUE(MakeSureDirExists(dir_.file("shared")));
    const std::string real = dir_.file("shared/settings.ini");
    ASSERT_TRUE(WriteFileAtomic(real, "[TekmoCloud]\nUserName=tech\n", 0600));
    ASSERT_EQ(::symlink(real.c_str(), Ini().c_str()), 0);
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "DefaultConfig", "Office"));
    EXPECT_EQ(GetPathType(Ini()), "file");
    struct stat st {};
    ASSERT_EQ(::lstat(Ini().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));  // still the link
    std::string text;
    ASSERT_TRUE(ReadWholeFile(real, text));
    EXPECT_EQ(text, "[TekmoCloud]\nUserName=tech\nDefaultConfig=Office\n");
}

TEST_F(IniTest, ReadOnlyFileIsNotRewritten) {
    SetContent("[TekmoCloud]\nUserName=tech\n");
    ASSERT_EQ(::chmod(Ini().c_str(), 0400), 0);
    auto scenario = [&] { return !WriteIniValue(Ini(), "TekmoCloud", "UserName", "other"); };
    if (::geteuid() != 0) {
        EXPECT_TRUE(scenario());
    } else {
        // Root may write anything; the owner of the folder and file may not.
        constexpr uid_t kNobody = 65534;
        ASSERT_EQ(::chown(dir_.path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(Ini().c_str(), kNobody, kNobody), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
            ::_exit(scenario() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "could not give up root";
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(Content(), "[TekmoCloud]\nUserName=tech\n");
    EXPECT_EQ(GetFileMode(Ini()), 0400);
}

TEST_F(IniTest, NamedPipeInPlaceOfTheFileDoesNotHang) {
    ASSERT_EQ(::mkfifo(Ini().c_str(), 0600), 0);
    EXPECT_EQ(ReadIniValue(Ini(), "TekmoCloud", "UserName"), "");
    EXPECT_FALSE(WriteIniValue(Ini(), "TekmoCloud", "UserName", "tech"));
}

class LoadSettingsTest : public IniTest {
  protected:
    void SetUp() override {
        OverrideExecutablePath(dir_.file("Talvane"));
        InitAppSettings(true, true);
        ASSERT_EQ(AppINI(), Ini());
    }
    void TearDown() override { OverrideExecutablePath(""); }
    void Save(const std::string& user, const std::string& password, const std::string& zip) {
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "UserName", user));
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", ScrambleString(password)));
        ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "ZipPassword", ScrambleString(zip)));
    }
};

TEST_F(LoadSettingsTest, CompleteCredentialsAreUnscrambled) {
    Save("tech", "pa ss", "zip#1");
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(App().UserName, "tech");
    EXPECT_EQ(App().Password, "pa ss");
    EXPECT_EQ(App().ZipPassword, "zip#1");
}

TEST_F(LoadSettingsTest, IncompleteCredentials) {
    EXPECT_FALSE(LoadSettings());  // no file at all
    Save("tech", "pw", "");
    EXPECT_NE(ReadIniValue(Ini(), "TekmoCloud", "ZipPassword"), "");  // stored, but empty
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(App().ZipPassword, "");
    Save("tech", "pw", "zip");
    ASSERT_TRUE(WriteIniValue(Ini(), "TekmoCloud", "Password", "typed by hand"));
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(App().Password, "");
}

}  // namespace
}  // namespace talvane
