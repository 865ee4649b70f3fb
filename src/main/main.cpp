// Talvane's entry point: prepares the process, reads the settings and hands
// over to exactly one window, whose loop then runs until it goes away.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/default_dialog_presenter.h"
#include "app/frontend.h"
#include "app/main_presenter.h"
#include "app/outcome.h"
#include "app/splash_logic.h"
#include "app/startup.h"
#include "common/app_paths.h"
#include "common/log.h"
#include "common/names.h"
#include "frontends/console/console_frontend.h"
#include "main/gui_frontend.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "settings/endpoints.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "settings/stored_settings.h"

namespace {

// TALVANE_UI=console|gui decides; otherwise a display means the GUI.
bool WantsGui() {
    if (const char* ui = std::getenv("TALVANE_UI"); ui != nullptr && *ui != '\0') {
        return std::string(ui) == "gui";
    }
    return talvane::platform::DisplayAvailable();
}

// The settings file read once: where the tool goes, the credentials, the key.
talvane::Session ReadSession(bool& credentialsComplete) {
    using namespace talvane;
    Session session;
    session.SettingsFile = SettingsFilePath();
    session.ExtractFolder =
        ResolveExtractFolder(ReadStored(session.SettingsFile, StoredKey::DefaultPath));
    DPrint("Set:  " + session.ExtractFolder);
    credentialsComplete = LoadSettings(session);
    return session;
}

// The one window a start opens, with its presenter; they live until the loop ends.
struct StartedWindow {
    std::unique_ptr<talvane::app::MainView> mainView;
    std::optional<talvane::app::MainPresenter> main;
    std::unique_ptr<talvane::app::DefaultDialogView> dialogView;
    std::optional<talvane::app::DefaultDialogPresenter> dialog;

    void Open(talvane::StartWindow start, talvane::app::Frontend& frontend,
              talvane::Session& session, const talvane::Endpoints& endpoints,
              talvane::frontends::console::ConsoleFrontend* console) {
        using talvane::StartWindow;
        if (start == StartWindow::DefaultConfig) {
            frontend.Splash().Close();
            dialogView = frontend.CreateDefaultDialogView();
            dialog.emplace(frontend, *dialogView, session, endpoints);
            dialog->Load();
            dialogView->Show();
            return;
        }
        // The unattended run takes no input until it hands the window to the user.
        if (start == StartWindow::MainUnattended && console) console->SetInputEnabled(false);
        mainView = frontend.CreateMainView();
        main.emplace(frontend, *mainView, session, endpoints);
        if (start == StartWindow::MainUnattended) return main->RunUnattended();
        main->Show(start == StartWindow::MainExpanded);
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace talvane;

    platform::UseParentConsole();
    WriteStartBanner();
    InstallInterruptCleanup();
    platform::DisableCoreDumps();

    const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    const std::string commandLine = JoinCommandLine(args);
    if (IsHelpRequest(commandLine)) {
        std::fputs(UsageText(), stdout);
        return 0;
    }

    // The windows when wanted and possible; the console otherwise.
    std::unique_ptr<GuiFrontend> gui;
    if (WantsGui()) {
        gui = StartGuiFrontend(argc, argv);
        if (!gui)
            std::fputs("Talvane: no graphical frontend can be shown here; using the console.\n",
                       stderr);
    }
    std::optional<frontends::console::ConsoleFrontend> console;
    if (!gui) console.emplace();
    app::Frontend& frontend = gui ? gui->frontend() : *console;
    SetEventPump(&frontend);

    if (IsSplashDemo(commandLine)) {
        RunSplashDemo(frontend);
        SetEventPump(nullptr);
        return 0;
    }

    if (const auto unreadable = UnreadableSettingsMessage(SettingsFilePath())) {
        frontend.MessageBox(*unreadable, app::AppTitle(), app::MsgIcon::Critical);
        if (console) console->Output().Flush();
        SetEventPump(nullptr);
        return static_cast<int>(app::ExitCode::Failed);
    }
    frontend.Splash().Show();
    bool complete = false;
    Session session = ReadSession(complete);
    const Endpoints endpoints = LoadEndpoints(session.SettingsFile);
    StartedWindow window;
    window.Open(ChooseStartWindow(commandLine, complete), frontend, session, endpoints,
                console ? &*console : nullptr);
    CleanUpOldExecutable();

    const int code = frontend.Run(window.main ? &*window.main : nullptr,
                                  window.dialog ? &*window.dialog : nullptr);
    if (console) console->Output().Flush();
    SetEventPump(nullptr);
    return code;
}
