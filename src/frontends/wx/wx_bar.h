#pragma once
// A progress bar over a wxGauge of fixed range: the gauge is touched only when
// the drawn position changes, so a transfer that reports every few hundred
// bytes costs a handful of repaints.
#include <chrono>

#include <wx/gauge.h>

#include "app/progress_model.h"
#include "app/views.h"

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class WxBar final : public ProgressBarView {
  public:
    static constexpr int kSteps = 1000;
    // `repaintAtOnce`: the splash is driven between sleeps, with no event loop.
    explicit WxBar(bool repaintAtOnce = false) : repaintAtOnce_(repaintAtOnce) {}
    void Attach(wxGauge* gauge);  // nullptr when the window goes away
    void SetMin(long value) override {
        if (model_.SetMin(value)) Draw();
    }
    void SetMax(long value) override {
        if (model_.SetMax(value)) Draw();
    }
    void SetValue(long value) override {
        if (model_.SetValue(value)) Draw();
    }
    long Min() const override { return model_.Min(); }
    long Max() const override { return model_.Max(); }
    long Value() const override { return model_.Value(); }
    void Reset();
    long GaugeUpdates() const { return gaugeUpdates_; }

  private:
    void Draw();
    wxGauge* gauge_ = nullptr;
    bool repaintAtOnce_;
    ProgressModel model_;
    DrawnPosition drawn_{kSteps};
    static constexpr std::chrono::milliseconds kRepaintInterval{100};
    std::chrono::steady_clock::time_point lastRepaint_{};
    long gaugeUpdates_ = 0;
};

}  // namespace talvane::frontends::wx
