#include "frontends/wx/wx_frontend.h"
#include "main/gui_frontend.h"

namespace talvane {

namespace {

// The toolkit is started first and stopped last.
class WxGui final : public GuiFrontend {
  public:
    WxGui(int& argc, char** argv) : toolkit_(argc, argv) {}
    bool ok() const { return toolkit_.ok(); }
    app::Frontend& frontend() override { return frontend_; }

  private:
    frontends::wx::Toolkit toolkit_;
    frontends::wx::WxFrontend frontend_;
};

}  // namespace

std::unique_ptr<GuiFrontend> StartGuiFrontend(int& argc, char** argv) {
    auto gui = std::make_unique<WxGui>(argc, argv);
    if (!gui->ok()) return nullptr;
    return gui;
}

}  // namespace talvane
