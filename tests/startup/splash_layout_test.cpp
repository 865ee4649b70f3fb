// The splash window's size from the logo file, and the "-splash" demonstration.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "startup/splash_logic.h"
#include "support/fake_frontend.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
}

// A bitmap file with the given info-header size; pixel rows are left out
// unless `withPixels`, since only the header decides the size.
Bytes Bitmap(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
             bool withPixels = true, std::uint32_t planes = 1, std::uint32_t bits = 24) {
    Bytes b(14 + infoSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, 14 + infoSize);
    Put32(b, 14, infoSize);
    if (infoSize == 12) {
        Put16(b, 18, static_cast<std::uint32_t>(width));
        Put16(b, 20, static_cast<std::uint32_t>(height));
        Put16(b, 22, planes);
        Put16(b, 24, bits);
    } else {
        Put32(b, 18, static_cast<std::uint32_t>(width));
        Put32(b, 22, static_cast<std::uint32_t>(height));
        Put16(b, 26, planes);
        Put16(b, 28, bits);
    }
    if (withPixels && width > 0 && height != 0) {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        const std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
        b.resize(b.size() + row * rows, 0x7f);
    }
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
}

void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

struct HeaderCase {
    const char* name;
    Bytes bytes;
    bool ok;
    int width;
    int height;
};

class BitmapHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(BitmapHeader, ReadsSizeOrRefuses) {
    testing::TempDir dir;
    const std::string path = dir.file("logo.bmp");
    Write(path, GetParam().bytes);
    int w = -1;
    int h = -1;
    EXPECT_EQ(ReadBitmapSize(path, w, h), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(w, GetParam().width);
        EXPECT_EQ(h, GetParam().height);
    } else {
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
    }
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes Cut(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BitmapHeader,
    ::testing::Values(HeaderCase{"InfoHeader", Bitmap(40, 300, 100), true, 300, 100},
                      HeaderCase{"TopDownRows", Bitmap(40, 300, -100), true, 300, 100},
                      HeaderCase{"CoreHeader", Bitmap(12, 64, 32), true, 64, 32},
                      HeaderCase{"V5Header", Bitmap(124, 17, 5), true, 17, 5},
                      HeaderCase{"HeaderOnly", Bitmap(40, 8, 8, false), true, 8, 8},
                      HeaderCase{"NotBM", Text("PK\x03\x04 this is a zip, not a picture........"),
                                 false, 0, 0},
                      HeaderCase{"PlainText", Text("Talvane logo goes here\n"), false, 0, 0},
                      HeaderCase{"Empty", Bytes{}, false, 0, 0},
                      HeaderCase{"Truncated", Cut(Bitmap(40, 300, 100), 20), false, 0, 0},
                      HeaderCase{"ZeroWidth", Bitmap(40, 0, 100), false, 0, 0},
                      HeaderCase{"NegativeWidth", Bitmap(40, -5, 100), false, 0, 0},
                      HeaderCase{"LowestHeight", Bitmap(40, 10, INT32_MIN, false), false, 0, 0},
                      HeaderCase{"Huge", Bitmap(40, 1 << 30, 1 << 30, false), false, 0, 0},
                      HeaderCase{"UnknownInfoSize", Bitmap(20, 10, 10), false, 0, 0},
                      HeaderCase{"BadPlanes", Bitmap(40, 10, 10, true, 3), false, 0, 0},
                      HeaderCase{"BadDepth", Bitmap(40, 10, 10, true, 1, 7), false, 0, 0}),
    [](const ::testing::TestParamInfo<HeaderCase>& param) {
        return std::string(param.param.name);
    });

TEST(BitmapHeaderFile, MissingFileIsNoBitmap) {
    testing::TempDir dir;
    int w = 1;
    int h = 1;
    EXPECT_FALSE(ReadBitmapSize(dir.file("absent.bmp"), w, h));
}

TEST(SplashLayout, WithoutLogoTheWindowIsOnlyTheBar) {
    testing::TempDir dir;
    const SplashLayout layout = ComputeSplashLayout(dir.file("Talvane.bmp"));
    EXPECT_FALSE(layout.logoShown);
    EXPECT_EQ(layout.widthTwips, 4770);
    EXPECT_EQ(layout.heightTwips, 650);
    EXPECT_EQ(layout.barHeightTwips, 650);
}

TEST(SplashLayout, LogoSizesTheWindowWithABarBelow) {
    testing::TempDir dir;
    Write(dir.file("Talvane.bmp"), Bitmap(40, 300, 100));
    const SplashLayout layout = ComputeSplashLayout(dir.file("Talvane.bmp"));
    EXPECT_TRUE(layout.logoShown);
    EXPECT_EQ(layout.pictureWidthTwips, 4500);
    EXPECT_EQ(layout.pictureHeightTwips, 1500);
    EXPECT_EQ(layout.widthTwips, 4500);
    EXPECT_EQ(layout.heightTwips, 1875);
    EXPECT_EQ(layout.barHeightTwips, 375);
}

TEST(SplashLayout, HigherResolutionScalesTheTwips) {
    testing::TempDir dir;
    Write(dir.file("Talvane.bmp"), Bitmap(40, 300, -100));
    const SplashLayout layout = ComputeSplashLayout(dir.file("Talvane.bmp"), 12);  // 120 dpi
    EXPECT_EQ(layout.widthTwips, 3600);
    EXPECT_EQ(layout.heightTwips, 1200 + 375);
}

TEST(SplashLayout, UnreadableLogoLeavesAnEmptyPictureAndTheBar) {
    testing::TempDir dir;
    Write(dir.file("Talvane.bmp"), Text("not a bitmap at all"));
    const SplashLayout layout = ComputeSplashLayout(dir.file("Talvane.bmp"));
    EXPECT_TRUE(layout.logoShown);
    EXPECT_EQ(layout.pictureWidthTwips, 0);
    EXPECT_EQ(layout.pictureHeightTwips, 0);
    EXPECT_EQ(layout.widthTwips, 0);
    EXPECT_EQ(layout.heightTwips, 375);
    EXPECT_EQ(layout.barHeightTwips, 375);
}

TEST(SplashLayout, AFolderNamedLikeTheLogoIsNoLogo) {
    testing::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("Talvane.bmp").c_str(), 0700), 0);
    EXPECT_FALSE(ComputeSplashLayout(dir.file("Talvane.bmp")).logoShown);
}

TEST(SplashDemo, ShowsStepsTheBarAndCloses) {
    testing::FakeFrontend frontend;
    RunSplashDemo(frontend);
    EXPECT_EQ(frontend.splash.shows, 1);
    EXPECT_EQ(frontend.splash.closes, 1);
    EXPECT_FALSE(frontend.splash.IsOpen());
    EXPECT_EQ(frontend.splash.bar.Max(), 100);
    EXPECT_EQ(frontend.splash.bar.values, (std::vector<long>{1, 21, 41, 61, 81}));
    // Both waits keep the window loop running.
    EXPECT_GT(frontend.pumps, 0);
}

}  // namespace
}  // namespace talvane
