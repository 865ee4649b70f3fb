#pragma once
// The splash window's layout and the splash demonstration.
#include <string>

#include "app/window_layout.h"

namespace talvane {
namespace app {
class Frontend;
}

struct SplashLayout {
    bool logoShown = false;
    int widthTwips = app::kSplashBarOnlySize.width;
    int heightTwips = app::kSplashBarOnlySize.height;
    int barHeightTwips = app::kSplashBarOnlySize.height;
    int pictureWidthTwips = 0;
    int pictureHeightTwips = 0;
};

// From the logo file (a Windows bitmap) when it exists; twipsPerPixel is 15 at 96 dpi.
SplashLayout ComputeSplashLayout(const std::string& logoPath,
                                 int twipsPerPixel = app::kTwipsPerPixel);
// Reads width/height from a BMP header; false when the file is not a bitmap.
bool ReadBitmapSize(const std::string& path, int& width, int& height);

// Show the splash, wait 1 s, bar to 1, 21, 41, 61, 81 (200 ms apart), wait 1 s, close.
void RunSplashDemo(app::Frontend& frontend);

}  // namespace talvane
