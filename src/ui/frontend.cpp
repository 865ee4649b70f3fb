#include "ui/frontend.h"

namespace talvane::ui {

namespace {
Frontend* g_frontend = nullptr;
}

void SetFrontend(Frontend* frontend) {
    g_frontend = frontend;
    SetEventPump(frontend);
}

Frontend* GetFrontend() {
    return g_frontend;
}

const char* AppTitle() {
    return "Talvane";
}

void ShowMessage(const std::string& text, MsgIcon icon, const std::string& title) {
    if (g_frontend) g_frontend->MessageBox(text, title, icon);
}

}  // namespace talvane::ui
