#include "frontends/wx/wx_helpers.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>

#include "app/window_layout.h"
#include "common/strings.h"

namespace talvane::frontends::wx {

namespace {

int TwipsToDip(int twips) {
    return (twips + app::kTwipsPerPixel / 2) / app::kTwipsPerPixel;
}

}  // namespace

void StandardHeight(wxWindow* button) {
    // Measured on a button with a label, as the theme draws it (the toolkit's default
    // size is a guess that themes do not follow).
    auto* probe = new wxButton(button->GetParent(), wxID_ANY, "Xg");
    const int height = probe->GetBestSize().y;
    probe->Destroy();
    button->SetMinSize(wxSize(-1, height));
}

wxString FromUtf8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

std::string ToUtf8(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxSize TwipsToPixels(int widthTwips, int heightTwips, const wxWindow* window) {
    return wxWindow::FromDIP(wxSize(TwipsToDip(widthTwips), TwipsToDip(heightTwips)), window);
}

CaptionBox::CaptionBox(wxWindow* parent, const wxString& caption)
    : wxStaticBox(parent, wxID_ANY, caption), captionSize_(wxStaticBox::DoGetBestSize()) {}

wxSize CaptionBox::DoGetBestSize() const {
    return captionSize_;
}

wxStaticBoxSizer* MakeGroup(wxWindow* parent, const wxString& caption) {
    return new wxStaticBoxSizer(new CaptionBox(parent, caption), wxVERTICAL);
}

std::string CaseBlindWildcard(const std::string& wildcard) {
#ifdef __WXMSW__
    return wildcard;
#else
    std::string out;
    bool inPattern = false;  // descriptions and patterns alternate between bars
    for (const char c : wildcard) {
        if (c == '|') inPattern = !inPattern;
        const auto letter = static_cast<unsigned char>(c);
        const char lower = static_cast<char>(std::tolower(letter)),
                   upper = static_cast<char>(std::toupper(letter));
        if (inPattern && letter < 0x80 && lower != upper) {
            out += {'[', lower, upper, ']'};
        } else {
            out += c;
        }
    }
    return out;
#endif
}

void RepaintNow() {
    if (!wxTheApp) return;
    wxEventLoopGuarantor loopExists;
    wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_UI);
}

void NoteFirstPaint() {
    const char* file = std::getenv("TALVANE_FIRST_PAINT_FILE");
    if (file == nullptr || *file == '\0') return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::ofstream(file) << std::chrono::nanoseconds(now).count() << '\n';
}

void TraceUi(const std::string& line) {
    const char* file = std::getenv("TALVANE_UI_TRACE");
    if (file == nullptr || *file == '\0') return;
    std::ofstream(file, std::ios::app) << line << '\n';
}

std::string FocusName() {
    const wxWindow* focus = wxWindow::FindFocus();
    if (focus == nullptr) return {};
    const std::string name = ToUtf8(focus->GetName());
    return name == "configCombo" ? name : ToUtf8(wxStripMenuCodes(focus->GetLabel()));
}

int FindNoCase(const wxItemContainerImmutable& items, const std::string& text) {
    for (unsigned i = 0; i < items.GetCount(); ++i) {
        if (EqualsNoCase(ToUtf8(items.GetString(i)), text)) return static_cast<int>(i);
    }
    return wxNOT_FOUND;
}

std::vector<std::string> Entries(const wxItemContainerImmutable& items) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < items.GetCount(); ++i) out.push_back(ToUtf8(items.GetString(i)));
    return out;
}

std::string Selected(const wxItemContainerImmutable& items) {
    const int index = items.GetSelection();
    return index == wxNOT_FOUND ? std::string()
                                : ToUtf8(items.GetString(static_cast<unsigned>(index)));
}

}  // namespace talvane::frontends::wx
