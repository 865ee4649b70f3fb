#include "app/splash_logic.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "app/frontend.h"
#include "common/event_pump.h"
#include "common/files.h"
#include "common/process.h"
#include "platform/file_io.h"

namespace talvane {

namespace {

constexpr int kLogoBarTwips = app::kSplashLogoBarTwips;
constexpr int kStripWidthTwips = app::kSplashBarOnlySize.width;
constexpr int kStripHeightTwips = app::kSplashBarOnlySize.height;
// Larger than any screen; keeps the twip arithmetic far from overflow.
constexpr std::int64_t kMaxPixels = 1 << 16;

std::uint32_t U16(const unsigned char* p) {
    return p[0] | (std::uint32_t{p[1]} << 8);
}
std::uint32_t U32(const unsigned char* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
std::int64_t S32(const unsigned char* p) {
    return static_cast<std::int64_t>(static_cast<std::int32_t>(U32(p)));
}

bool PlausibleDepth(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool ReadBitmapSize(const std::string& path, int& width, int& height) {
    width = 0;
    height = 0;
    fileio::ReadOnlyFile in;  // wide paths on Windows
    if (in.Open(path) != fileio::ReadOnlyFile::OpenResult::Ok) return false;
    // File header (14 bytes) + the longest fields we read of the info header.
    std::array<unsigned char, 14 + 16> h{};
    const long long got = in.ReadAt(h.data(), h.size(), 0);
    if (got < 14 + 12 || h[0] != 'B' || h[1] != 'M') return false;

    const std::uint32_t infoSize = U32(&h[14]);
    std::int64_t w = 0;
    std::int64_t hgt = 0;
    if (infoSize == 12) {  // BITMAPCOREHEADER: 16-bit sizes, always bottom-up
        w = U16(&h[18]);
        hgt = U16(&h[20]);
        if (U16(&h[22]) != 1 || !PlausibleDepth(U16(&h[24]))) return false;
    } else if (infoSize >= 40 && infoSize <= 256) {  // BITMAPINFOHEADER and its successors
        if (got < 14 + 16) return false;
        w = S32(&h[18]);
        hgt = S32(&h[22]);  // negative: rows stored top-down
        if (U16(&h[26]) != 1 || !PlausibleDepth(U16(&h[28]))) return false;
        if (hgt < 0) hgt = -hgt;
    } else {
        return false;
    }
    if (w <= 0 || hgt <= 0 || w > kMaxPixels || hgt > kMaxPixels) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(hgt);
    return true;
}

SplashLayout ComputeSplashLayout(const std::string& logoPath, int twipsPerPixel) {
    SplashLayout layout;
    int w = 0;
    int h = 0;
    // Without a readable logo the window is only the bar: a picture box sized
    // from a broken file would leave a window a pixel high.
    if (!ReadBitmapSize(logoPath, w, h) || twipsPerPixel <= 0 || twipsPerPixel > 1440) {
        layout.widthTwips = kStripWidthTwips;
        layout.heightTwips = kStripHeightTwips;
        layout.barHeightTwips = kStripHeightTwips;
        return layout;
    }
    layout.logoShown = true;
    layout.pictureWidthTwips = w * twipsPerPixel;
    layout.pictureHeightTwips = h * twipsPerPixel;
    layout.widthTwips = layout.pictureWidthTwips;
    layout.heightTwips = layout.pictureHeightTwips + kLogoBarTwips;
    layout.barHeightTwips = kLogoBarTwips;
    return layout;
}

void RunSplashDemo(app::Frontend& frontend) {
    app::SplashView& splash = frontend.Splash();
    splash.Show();
    Delay(1.0);
    splash.Bar().SetMax(100);
    for (long value = 1; value <= 100; value += 20) {
        splash.Bar().SetValue(value);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    Delay(1.0);
    splash.Close();
}

}  // namespace talvane
