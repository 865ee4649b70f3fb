#include "frontends/wx/wx_bar.h"

#include "frontends/wx/wx_helpers.h"

namespace talvane::frontends::wx {

void WxBar::Attach(wxGauge* gauge) {
    gauge_ = gauge;
    drawn_.Forget();
    if (gauge_) Draw();
}

void WxBar::Reset() {
    model_.Reset();
    drawn_.Forget();
}

void WxBar::Draw() {
    if (!gauge_) return;
    const std::optional<int> step = drawn_.Next(model_);
    if (!step) return;
    ++gaugeUpdates_;
    gauge_->SetValue(*step);
    // A repaint on the spot costs a round of the toolkit's loop; the pumps every 15 ms
    // repaint the bar anyway, so ten a second cover work that does not pump. The last
    // step is always shown.
    const auto now = std::chrono::steady_clock::now();
    if (repaintAtOnce_ && (*step == kSteps || now - lastRepaint_ >= kRepaintInterval)) {
        lastRepaint_ = now;
        gauge_->Refresh();
        gauge_->Update();
        RepaintNow();
    }
}

}  // namespace talvane::frontends::wx
