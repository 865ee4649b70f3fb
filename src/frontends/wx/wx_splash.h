#pragma once
// The splash window: a logo (when the program folder has one) above a bar.
#include <string>

#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include "app/views.h"
#include "app/window_layout.h"
#include "frontends/wx/wx_bar.h"

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class WxFrontend;

class WxSplash final : public SplashView {
  public:
    explicit WxSplash(WxFrontend& frontend) : frontend_(frontend), bar_(true) {}
    ~WxSplash() override;
    WxSplash(const WxSplash&) = delete;
    WxSplash& operator=(const WxSplash&) = delete;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return frame_ != nullptr; }
    ProgressBarView& Bar() override { return bar_; }
    // The line goes between the logo and the bar; the window grows by its height
    // the first time there is something to say.
    void SetActivity(const std::string& text) override;
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    wxFrame* Frame() const { return frame_; }
    wxStaticText* ActivityLine() const { return line_; }  // null until there is one

  private:
    void AddLine();

    WxFrontend& frontend_;
    wxFrame* frame_ = nullptr;
    wxGauge* gauge_ = nullptr;
    wxStaticText* line_ = nullptr;
    WxBar bar_;
    int width_ = kSplashBarOnlySize.width, height_ = kSplashBarOnlySize.height;
};

}  // namespace talvane::frontends::wx
