#include "frontends/wx/wx_status.h"

#include <wx/display.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include "app/window_layout.h"
#include "frontends/wx/wx_frontend.h"
#include "frontends/wx/wx_helpers.h"

namespace talvane::frontends::wx {

WxStatus::~WxStatus() {
    Close();
}

void WxStatus::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (frame_) frame_->SetTitle(FromUtf8(caption));
}

void WxStatus::SetLabel(const std::string& text) {
    text_ = text;
    // The status lines of the main window and the splash say the same.
    frontend_.SetActivity(text);
    if (!frame_) return;
    label_->SetLabel(FromUtf8(text));
    frame_->Layout();
    label_->Update();
    RepaintNow();
}

// Centred on its owner, but never over the splash: the unattended run's progress is its bar.
void WxStatus::Place(wxWindow* owner) {
    if (owner) {
        frame_->CentreOnParent();
    } else {
        frame_->Centre();
    }
    const wxFrame* splash = frontend_.SplashWindow().Frame();
    if (!splash || !splash->IsShown()) return;
    const wxRect over = splash->GetScreenRect();
    const wxRect area = wxDisplay(splash).GetClientArea();
    const wxSize size = frame_->GetSize();
    const int gap = frame_->FromDIP(12);
    const int below = over.GetBottom() + 1 + gap, above = over.GetTop() - gap - size.y;
    const int y = below + size.y <= area.GetBottom() + 1 || above < area.GetTop() ? below : above;
    frame_->Move(over.x + (over.width - size.x) / 2, y);
}

void WxStatus::Show() {
    if (!frame_) {
        wxWindow* owner = frontend_.ActiveWindow();
        // A window without a caption looks broken: the program's title until one is set.
        const wxString caption = caption_.empty() ? wxString(AppTitle()) : FromUtf8(caption_);
        frame_ = new wxFrame(owner, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize,
                             wxCAPTION | wxFRAME_TOOL_WINDOW | wxFRAME_NO_TASKBAR |
                                 (owner ? wxFRAME_FLOAT_ON_PARENT : 0));
        auto* panel = new wxPanel(frame_);
        label_ = new wxStaticText(panel, wxID_ANY, FromUtf8(text_), wxDefaultPosition,
                                  wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->AddStretchSpacer();
        sizer->Add(label_, 0, wxEXPAND | wxALL, panel->FromDIP(kMargin));
        sizer->AddStretchSpacer();
        panel->SetSizer(sizer);
        wxSize client = TwipsToPixels(kStatusClientSize.width, kStatusClientSize.height, frame_);
        client.IncTo(panel->GetBestSize());  // a long line or large text gets its room
        frame_->SetClientSize(client);
        Place(owner);
    }
    frame_->Show();
    frame_->Update();
    RepaintNow();
}

void WxStatus::Close() {
    if (!frame_) return;
    frame_->Destroy();
    frame_ = nullptr;
    label_ = nullptr;
}

}  // namespace talvane::frontends::wx
