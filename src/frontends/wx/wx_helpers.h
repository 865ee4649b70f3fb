#pragma once
// What the window files share: text and size conversions, the spacing between
// controls, and the item-list lookups both windows' drop-down lists use.
#include <string>
#include <vector>

#include <wx/ctrlsub.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/string.h>
#include <wx/window.h>

namespace talvane::frontends::wx {

// Spacing after the GNOME guidelines, in device-independent pixels: a margin around a
// window's content and between groups, a gap between related controls.
inline constexpr int kMargin = 12;
inline constexpr int kGap = 6;
// A button as narrow as its text (">>", ">") but as tall as the others.
void StandardHeight(wxWindow* button);

wxString FromUtf8(const std::string& text);
std::string ToUtf8(const wxString& text);
// Twips to pixels: 15 twips a pixel at 96 dpi, scaled for the display by FromDIP.
wxSize TwipsToPixels(int widthTwips, int heightTwips, const wxWindow* window);

// A group box whose best size is its caption's, measured while it is empty:
// GTK's own grows with whatever the box was last given, so a window that grew
// could never shrink back.
class CaptionBox final : public wxStaticBox {
  public:
    CaptionBox(wxWindow* parent, const wxString& caption);

  protected:
    wxSize DoGetBestSize() const override;

  private:
    wxSize captionSize_;
};

// A vertical group in a CaptionBox.
wxStaticBoxSizer* MakeGroup(wxWindow* parent, const wxString& caption);

// "Name|*.bmp|..." with every pattern matching letters of either case: the GTK
// file chooser compares names case by case, Windows never does.
std::string CaseBlindWildcard(const std::string& wildcard);

// Paints what changed, without taking clicks: the splash is driven between
// sleeps, before or outside any event loop.
void RepaintNow();

// The start-up benchmark's mark: the monotonic clock in nanoseconds, written to the
// file TALVANE_FIRST_PAINT_FILE names (nothing when it is not set).
void NoteFirstPaint();

// A line for the window tests that run the real program (the focus, a box, the progress as
// shown), appended to the file TALVANE_UI_TRACE names; nothing when it is not set.
void TraceUi(const std::string& line);
// The control that has the keys: its name when it has one of its own, else its caption.
std::string FocusName();

// Index of the entry equal to `text` without regard to case, or wxNOT_FOUND.
int FindNoCase(const wxItemContainerImmutable& items, const std::string& text);
std::vector<std::string> Entries(const wxItemContainerImmutable& items);
// The selected entry, or "".
std::string Selected(const wxItemContainerImmutable& items);

}  // namespace talvane::frontends::wx
