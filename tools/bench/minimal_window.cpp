// The smallest wxWidgets program that opens a window: the yardstick of the start-up
// benchmark. On its first paint it writes the monotonic clock (nanoseconds) to the
// file named by TALVANE_FIRST_PAINT_FILE, as the launcher's main window does.
#include <chrono>
#include <cstdlib>
#include <fstream>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/panel.h>

namespace {

class MinimalApp final : public wxApp {
  public:
    bool OnInit() override {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Minimal window");
        auto* panel = new wxPanel(frame, wxID_ANY);
        panel->Bind(wxEVT_PAINT, [this](wxPaintEvent& event) {
            event.Skip();
            if (painted_) return;
            painted_ = true;
            const char* file = std::getenv("TALVANE_FIRST_PAINT_FILE");
            if (file == nullptr || *file == '\0') return;
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::ofstream(file) << std::chrono::nanoseconds(now).count() << '\n';
        });
        frame->Show();
        return true;
    }

  private:
    bool painted_ = false;
};

}  // namespace

wxIMPLEMENT_APP(MinimalApp);
