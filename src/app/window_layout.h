#pragma once
// The windows' sizes and captions, shared by the presenters, both frontends
// and the test fake so that they cannot drift apart. Sizes are in twips.
namespace talvane::app {

struct TwipsSize {
    int width;
    int height;
};

// Twips in one pixel at 96 dpi.
inline constexpr int kTwipsPerPixel = 15;

// The main window: the compact layout shows only "Select Config" (or the
// update panel); the full one adds the credentials, versions and installers.
inline constexpr TwipsSize kMainCompactSize{5145, 2220};
inline constexpr TwipsSize kMainFullSize{7530, 4380};
// A new main window's caption; switching back to the compact layout gives the
// second one (the full layout shows the version label).
inline constexpr const char* kMainFirstCaption = "Download and Run tekmo Now?";
inline constexpr const char* kMainCompactCaption = "Download and Run Tekmo Now?";
// The layout button: ">>" grows the window, "<<" shrinks it.
inline constexpr const char* kExpandCaption = ">>";
inline constexpr const char* kCollapseCaption = "<<";

// The splash without a logo is a bar alone; with a logo, the bar below the
// picture is thinner.
inline constexpr TwipsSize kSplashBarOnlySize{4770, 650};
inline constexpr int kSplashLogoBarTwips = 375;
inline constexpr const char* kSplashCaption = "Talvane";

// The status window's inside, for one line of text.
inline constexpr TwipsSize kStatusClientSize{4500, 900};

// The Default Config dialog fits its controls; only its caption is fixed.
inline constexpr const char* kDefaultDialogCaption = "Default Config";

}  // namespace talvane::app
