#include "frontends/wx/wx_splash.h"

#include <wx/bitmap.h>
#include <wx/statbmp.h>

#include "app/splash_logic.h"
#include "common/app_paths.h"
#include "common/names.h"
#include "frontends/wx/wx_frontend.h"
#include "frontends/wx/wx_helpers.h"

namespace talvane::frontends::wx {

WxSplash::~WxSplash() {
    Close();
}

void WxSplash::Show() {
    if (frame_) return;
    // A new showing is a new window: fresh bar, logo read again.
    bar_.Reset();
    const SplashLayout layout = ComputeSplashLayout(SettingsFolder() + names::kLogoFile);
    width_ = layout.widthTwips;
    height_ = layout.heightTwips;
    // Over the window that asked for it (the dialog's preview), else on its own.
    wxWindow* owner = frontend_.ActiveWindow();
    frame_ = new wxFrame(
        owner, wxID_ANY, kSplashCaption, wxDefaultPosition, wxDefaultSize,
        wxBORDER_NONE | wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP | (owner ? wxFRAME_FLOAT_ON_PARENT : 0));
    // An owner that goes first takes the splash with it.
    frame_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetEventObject() != frame_) return;
        bar_.Attach(nullptr);
        frame_ = nullptr;
        gauge_ = nullptr;
        line_ = nullptr;
    });
    const wxSize size = TwipsToPixels(width_, height_, frame_);
    const int barHeight = TwipsToPixels(0, layout.barHeightTwips, frame_).y;
    if (layout.logoShown) {
        wxBitmap logo(FromUtf8(SettingsFolder() + names::kLogoFile), wxBITMAP_TYPE_BMP);
        auto* picture = new wxStaticBitmap(frame_, wxID_ANY, logo.IsOk() ? logo : wxNullBitmap,
                                           wxPoint(0, 0), wxSize(size.x, size.y - barHeight));
        picture->SetName("logoPicture");
    }
    gauge_ = new wxGauge(frame_, wxID_ANY, WxBar::kSteps, wxPoint(0, size.y - barHeight),
                         wxSize(size.x, barHeight));
    gauge_->SetName("splashBar");
    frame_->SetSize(size);
    if (owner) {
        frame_->CentreOnParent();
    } else {
        frame_->Centre();
    }
    bar_.Attach(gauge_);
    frame_->Show();
    frame_->Update();
    RepaintNow();
}

void WxSplash::Close() {
    if (!frame_) return;
    bar_.Attach(nullptr);
    frame_->Destroy();
    frame_ = nullptr;
    gauge_ = nullptr;
    line_ = nullptr;
}

void WxSplash::AddLine() {
    const int lineHeight = frame_->GetCharHeight() + frame_->FromDIP(4);
    const wxSize size = frame_->GetSize();
    const wxPoint barAt = gauge_->GetPosition();
    const int margin = frame_->FromDIP(4);
    line_ = new wxStaticText(frame_, wxID_ANY, "", wxPoint(margin, barAt.y),
                             wxSize(size.x - 2 * margin, lineHeight),
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    line_->SetName("activityLine");
    gauge_->Move(barAt.x, barAt.y + lineHeight);
    frame_->SetSize(wxSize(size.x, size.y + lineHeight));
    if (frame_->GetParent()) {
        frame_->CentreOnParent();
    } else {
        frame_->Centre();
    }
}

void WxSplash::SetActivity(const std::string& text) {
    if (!frame_ || (!line_ && text.empty())) return;
    if (!line_) AddLine();
    line_->SetLabel(FromUtf8(text));
    line_->Update();
    RepaintNow();
}

}  // namespace talvane::frontends::wx
