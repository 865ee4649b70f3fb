// The splash window's size from the logo file (the "-splash" demonstration runs end to end).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/splash_logic.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

void PutLE(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// A bitmap file with the given info-header size; pixel rows are left out
// unless `withPixels`, since only the header decides the size.
std::string Bitmap(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                   bool withPixels = true, std::uint32_t planes = 1, std::uint32_t bits = 24) {
    std::string b(14 + infoSize, '\0');
    b[0] = 'B';
    b[1] = 'M';
    PutLE(b, 10, 14 + infoSize, 4);
    PutLE(b, 14, infoSize, 4);
    const int field = infoSize == 12 ? 2 : 4;  // the old core header has 16-bit sizes
    PutLE(b, 18, static_cast<std::uint32_t>(width), field);
    PutLE(b, 18 + static_cast<std::size_t>(field), static_cast<std::uint32_t>(height), field);
    PutLE(b, 18 + 2 * static_cast<std::size_t>(field), planes, 2);
    PutLE(b, 20 + 2 * static_cast<std::size_t>(field), bits, 2);
    if (withPixels && width > 0 && height != 0) {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        b.resize(b.size() + row * static_cast<std::size_t>(height < 0 ? -height : height), '\x7f');
    }
    PutLE(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    return b;
}

TEST(BitmapHeader, ReadsSizeOrRefuses) {
    struct Case {
        const char* name;
        std::string bytes;
        int width, height;  // 0, 0: refused
    };
    // clang-format off
    const Case cases[] = {
        {"InfoHeader", Bitmap(40, 300, 100), 300, 100},
        {"TopDownRows", Bitmap(40, 300, -100), 300, 100},
        {"CoreHeader", Bitmap(12, 64, 32), 64, 32}, {"V5Header", Bitmap(124, 17, 5), 17, 5},
        {"HeaderOnly", Bitmap(40, 8, 8, false), 8, 8},
        {"NotBM", "PK\x03\x04 this is a zip, not a picture........", 0, 0},
        {"PlainText", "Talvane logo goes here\n", 0, 0}, {"Empty", "", 0, 0},
        {"Truncated", Bitmap(40, 300, 100).substr(0, 20), 0, 0},
        {"ZeroWidth", Bitmap(40, 0, 100), 0, 0}, {"NegativeWidth", Bitmap(40, -5, 100), 0, 0},
        {"LowestHeight", Bitmap(40, 10, INT32_MIN, false), 0, 0},
        {"Huge", Bitmap(40, 1 << 30, 1 << 30, false), 0, 0},
        {"UnknownInfoSize", Bitmap(20, 10, 10), 0, 0},
        {"BadPlanes", Bitmap(40, 10, 10, true, 3), 0, 0},
        {"BadDepth", Bitmap(40, 10, 10, true, 1, 7), 0, 0}};
    // clang-format on
    testing::TempDir dir;
    for (const auto& c : cases) {
        testing::WriteFile(dir.file("logo.bmp"), c.bytes);
        int w = -1, h = -1;
        EXPECT_EQ(ReadBitmapSize(dir.file("logo.bmp"), w, h), c.width != 0) << c.name;
        EXPECT_EQ(w, c.width) << c.name;
        EXPECT_EQ(h, c.height) << c.name;
    }
    int w = 1, h = 1;
    EXPECT_FALSE(ReadBitmapSize(dir.file("absent.bmp"), w, h));
}

}  // namespace
}  // namespace talvane
