#pragma once
// The status window: a caption and one line of text over the active window.
#include <string>

#include <wx/frame.h>
#include <wx/stattext.h>

#include "app/views.h"

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class WxFrontend;

class WxStatus final : public StatusView {
  public:
    explicit WxStatus(WxFrontend& frontend) : frontend_(frontend) {}
    ~WxStatus() override;
    WxStatus(const WxStatus&) = delete;
    WxStatus& operator=(const WxStatus&) = delete;
    void SetCaption(const std::string& caption) override;
    void SetLabel(const std::string& text) override;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return frame_ != nullptr; }
    wxFrame* Frame() const { return frame_; }

  private:
    void Place(wxWindow* owner);

    WxFrontend& frontend_;
    wxFrame* frame_ = nullptr;
    wxStaticText* label_ = nullptr;
    std::string caption_, text_;
};

}  // namespace talvane::frontends::wx
