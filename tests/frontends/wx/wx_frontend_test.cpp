// The window frontend used as a technician would: real widgets under Xvfb,
// clicks and keys from wxUIActionSimulator, workflows against the loopback
// cloud. Each window is saved as a PNG for the documentation.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"
#include "common/files.h"
#include "common/strings.h"
#include "frontends/wx/wx_frontend.h"
#include "settings/settings.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MsgIcon;
using ui::gui::TwipsToPixels;
using ui::gui::WxFrontend;

class WxWindowTest : public WorkflowTest {
  protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        ui::gui::WxOptions options;
        options.onEnd = [](int code) { throw code; };  // the handler that ended stops it
        options.pickFile = [this](const std::string&, const std::string&, const std::string& refused) {
            refusedPicks_.push_back(refused);  // then the next answer, or a cancel
            return refusedPicks_.size() <= fileAnswers_.size() ? fileAnswers_[refusedPicks_.size() - 1] : "";
        };
        gui_ = std::make_unique<WxFrontend>(options);
        SetEventPump(gui_.get());
        // Message boxes are answered with OK as soon as they are up.
        answerer_.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
            for (wxWindow* w : wxTopLevelWindows)
                if (auto* box = dynamic_cast<wxDialog*>(w); box && box->IsModal()) box->EndModal(wxID_OK);
        });
        answerer_.Start(20);
    }
    void TearDown() override {
        answerer_.Stop();
        main_.reset();
        dialog_.reset();
        mainView_.reset();
        dialogView_.reset();
        Until([] { return true; });  // deferred window deletions
        SetEventPump(nullptr);
        gui_.reset();
        WorkflowTest::TearDown();
    }

    // Runs the event loop until `done` holds (bounded), as the program's loop would.
    bool Until(const std::function<bool()>& done, int limitMs = 30000) {
        wxGUIEventLoop loop;
        wxTimer poll;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        bool held = false;
        poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            held = done();
            if (held || std::chrono::steady_clock::now() > deadline) loop.ScheduleExit();
        });
        poll.Start(10);
        loop.Run();
        return held;
    }
    void Click(wxWindow* control) {
        wxUIActionSimulator sim;
        sim.MouseMove(control->GetScreenRect().GetPosition() + control->GetSize() / 2);
        sim.MouseClick();
    }
    ui::gui::MainFrame& OpenMain(bool expanded = false) {
        main_.reset();
        mainView_ = gui_->CreateMainView();
        main_ = std::make_unique<ui::MainPresenter>(*gui_, *mainView_, session_, endpoints_);
        gui_->Attach(main_.get(), nullptr);
        main_->Load();
        if (expanded) main_->Expand();
        main_->Show();
        ui::gui::MainFrame& frame = *gui_->MainWindow()->Frame();
        EXPECT_TRUE(Until([&] { return frame.IsShownOnScreen(); }));
        return frame;
    }
    ui::gui::DialogFrame& OpenDialog() {
        dialogView_ = gui_->CreateDefaultDialogView();
        dialog_ = std::make_unique<ui::DefaultDialogPresenter>(*gui_, *dialogView_, session_, endpoints_);
        gui_->Attach(nullptr, dialog_.get());
        dialog_->Load();
        dialogView_->Show();
        ui::gui::DialogFrame& frame = *gui_->DialogWindow()->Frame();
        EXPECT_TRUE(Until([&] { return frame.IsShownOnScreen(); }));
        return frame;
    }
    bool Ended() { return Until([&] { return gui_->Ended(); }); }
    bool Said(const std::string& text, MsgIcon icon) const {
        return std::any_of(gui_->Messages().begin(), gui_->Messages().end(),
                           [&](const auto& m) { return m.text.find(text) != std::string::npos && m.icon == icon; });
    }

    // The window as drawn on the screen, for the documentation.
    void Screenshot(wxWindow* window, const std::string& name) {
        Until([] { return false; }, 500);
        const wxRect r = window->GetScreenRect();
        wxBitmap shot(r.width, r.height);
        {
            wxScreenDC screen;
            // The screen's drawing surface keeps a copy of what it read first;
            // marking it changed makes every shot read the screen afresh.
            using SurfaceOf = void* (*)(void*);
            using MarkDirty = void (*)(void*);
            const auto target = reinterpret_cast<SurfaceOf>(dlsym(RTLD_DEFAULT, "cairo_get_target"));
            const auto dirty = reinterpret_cast<MarkDirty>(dlsym(RTLD_DEFAULT, "cairo_surface_mark_dirty"));
            if (void* cr = screen.GetImpl()->GetCairoContext(); cr && target && dirty) dirty(target(cr));
            wxMemoryDC dc(shot);
            dc.Blit(0, 0, r.width, r.height, &screen, r.x, r.y);
        }
        const char* dir = std::getenv("TALVANE_SCREENSHOT_DIR");
        const std::string folder = dir && *dir ? dir : std::string(TALVANE_BINARY_DIR) + "/screenshots";
        ASSERT_TRUE(MakeSureDirExists(folder));
        EXPECT_TRUE(shot.SaveFile(folder + "/" + name + ".png", wxBITMAP_TYPE_PNG));
    }

    // The splash at its size, its bar part filled.
    void ShootSplash(const std::string& name, int widthTwips, int heightTwips) {
        gui_->Splash().Show();
        wxFrame* splash = gui_->SplashWindow().Frame();
        ASSERT_NE(splash, nullptr);
        EXPECT_EQ(splash->GetSize(), TwipsToPixels(widthTwips, heightTwips, splash));
        gui_->Splash().Bar().SetValue(60);
        Screenshot(splash, name);
        gui_->Splash().Close();
    }

    std::unique_ptr<WxFrontend> gui_;
    std::unique_ptr<ui::MainView> mainView_;
    std::unique_ptr<ui::DefaultDialogView> dialogView_;
    std::unique_ptr<ui::MainPresenter> main_;
    std::unique_ptr<ui::DefaultDialogPresenter> dialog_;
    std::vector<std::string> fileAnswers_;
    std::vector<std::string> refusedPicks_;
    wxTimer answerer_;
};

// Each layout at its exact size and caption, shot for the documentation, with
// the status window over it.
TEST_F(WxWindowTest, LayoutButtonSwitchesBetweenTheExactSizes) {
    ui::gui::MainFrame& f = OpenMain();
    EXPECT_EQ(f.configCombo->GetCount(), 3u) << "the list comes from the cloud";
    EXPECT_TRUE(f.passwordText->HasFlag(wxTE_PASSWORD));
    EXPECT_EQ(f.GetIcons().GetIconCount(), 4u);
    const struct {
        int width, height;
        const char *caption, *button, *shot;
    } steps[] = {{5145, 2220, "Download and Run tekmo Now?", ">>", "main-compact"},
                 {7530, 4380, nullptr, "<<", "main-full"},
                 {5145, 2220, "Download and Run Tekmo Now?", ">>", nullptr}};
    for (const auto& step : steps) {
        if (&step != steps) {
            Click(f.layoutButton);
            EXPECT_TRUE(Until([&] { return f.layoutButton->GetLabel() == step.button; }));
        }
        EXPECT_EQ(f.GetSize(), TwipsToPixels(step.width, step.height, &f));
        EXPECT_EQ(ui::gui::ToUtf8(f.GetTitle()), step.caption ? step.caption : VersionLabel());
        if (step.shot) Screenshot(&f, step.shot);
    }
    gui_->Status().SetCaption("Please Wait...");
    gui_->Status().SetLabel("Extracting Config...");
    gui_->Status().Show();
    wxFrame* status = gui_->StatusWindow().Frame();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->GetParent(), &f);
    Screenshot(status, "status");
    gui_->Status().Close();
}

TEST_F(WxWindowTest, DownloadRunDeploysAndStartsTheTool) {
    ui::gui::MainFrame& f = OpenMain();
    mainView_->SetConfigText("Field Team");
    Click(f.downloadRunButton);
    ASSERT_TRUE(Ended()) << RunLog();
    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started with arguments: []")) << RunLog();
    EXPECT_TRUE(DoesFileExist(extract_ + "/Config/Tekmo.ini"));
    EXPECT_GT(gui_->MainWindow()->GaugeBar().GaugeUpdates(), 1) << "transfer progress reaches the bar";
}

TEST_F(WxWindowTest, WhileWorkRunsAnotherWorkflowClickIsIgnoredAndTheLayoutButtonWorks) {
    // A setup that runs until the test lets it end: the launcher waits for it, pumping.
    const std::string release = tmp_.file("release-setup");
    ASSERT_TRUE(WriteText(web_ + "/Subscribers/" + kSubscriber + "/Harlo/HarloSetup.exe",
                          "#!/bin/sh\nfor i in $(seq 600); do [ -e '" + release +
                              "' ] && exit 0; sleep 0.05; done\n",
                          0755));
    ui::gui::MainFrame& f = OpenMain(/*expanded=*/true);
    // The simulator waits for its click inside a yield of its own, where the
    // work could not pump; the click that starts the work is posted instead.
    wxCommandEvent press(wxEVT_BUTTON, f.installHarloButton->GetId());
    press.SetEventObject(f.installHarloButton);
    f.installHarloButton->GetEventHandler()->AddPendingEvent(press);
    int stage = 0;
    ASSERT_TRUE(Until([&] {
        if (stage == 0 && main_->Busy()) Click(f.downloadRunButton), ++stage;
        if (stage == 1 && LogHas("ignored while a workflow runs: Download && Run")) Click(f.layoutButton), ++stage;
        if (stage == 2 && mainView_->WidthTwips() == 5145) WriteText(release, ""), ++stage;
        return stage == 3 && !main_->Busy();
    }));
    EXPECT_EQ(RunLog().find("Tekmo"), std::string::npos) << "Download & Run did not run";
}

TEST_F(WxWindowTest, SaveQuitStoresWhatWasTypedAndTicked) {
    ui::gui::MainFrame& f = OpenMain(/*expanded=*/true);
    f.userText->ChangeValue("");
    Click(f.userText);
    ASSERT_TRUE(Until([&] { return f.userText->HasFocus(); }));
    wxUIActionSimulator().Text("tech9");
    ASSERT_TRUE(Until([&] { return f.userText->GetValue() == "tech9"; }));
    mainView_->SetConfigText("Office");
    f.deleteMeCheck->SetValue(true);
    Click(f.saveDefaultCheck);
    ASSERT_TRUE(Until([&] { return f.saveDefaultCheck->GetValue(); }));
    EXPECT_FALSE(f.deleteMeCheck->GetValue()) << "Save Config As Default unticks Delete Me";
    Click(f.saveQuitButton);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Setting("UserName"), "tech9");
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
    EXPECT_EQ(UnscrambleString(Setting("Password")), kSubscriberPassword);
}

TEST_F(WxWindowTest, EachInstallerButtonRunsItsSetup) {
    ui::gui::MainFrame& f = OpenMain(/*expanded=*/true);
    const std::pair<wxButton*, std::string> buttons[] = {
        {f.installPellamButton, "Pellam"}, {f.installHarloButton, "Harlo"}, {f.installQuorraButton, "Quorra"},
        {f.installSorvikButton, "Sorvik"}, {f.installUmbrinButton, "Umbrin"}};
    for (const auto& [button, app] : buttons) {
        Click(button);
        EXPECT_TRUE(Until([&] { return RunLog().find(app + "Setup started with arguments: [/silent]") != std::string::npos; })) << RunLog();
    }
}

TEST_F(WxWindowTest, DialogImportsAfterRefusingAMissingFileThenTestsAndSaves) {
    ui::gui::DialogFrame& d = OpenDialog();
    Screenshot(&d, "default-config");
    ShootSplash("splash", 4770, 650);
    const std::string missing = tmp_.file("Pictures/Missing.bmp"), logo = tmp_.file("Pictures/Logo.bmp");
    wxImage picture(300, 100);
    picture.SetRGB(wxRect(0, 0, 300, 100), 0x2a, 0x78, 0xad);
    picture.SetRGB(wxRect(20, 60, 260, 16), 0xf2, 0xb6, 0x32);
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("Pictures")));
    ASSERT_TRUE(picture.SaveFile(logo, wxBITMAP_TYPE_BMP));
    fileAnswers_ = {missing, tmp_.file("Pictures"), logo};
    Click(d.importButton);
    ASSERT_TRUE(Until([&] { return d.logoLabel->GetLabel() == "Found!"; }));
    EXPECT_TRUE(Said(missing + "\nFile not found.\nPlease verify the correct file name was given.",
                     MsgIcon::Exclamation));
    EXPECT_EQ(refusedPicks_, (std::vector<std::string>{"", missing, tmp_.file("Pictures")}))
        << "the dialog comes back after each refusal";
    EXPECT_TRUE(Said("Logo Imported.", MsgIcon::None));
    EXPECT_EQ(gui_->Messages().at(0).title, "Select a supported graphic to import.");
    ShootSplash("splash-logo", 4500, 1875);  // the logo above the bar
    Click(d.testButton);  // previews the splash
    ASSERT_TRUE(Until([&] { return gui_->SplashWindow().Frame() != nullptr; }));
    ASSERT_TRUE(Until([&] { return gui_->SplashWindow().Frame() == nullptr; }));
    Click(d.folderOption);
    ASSERT_TRUE(Until([&] { return d.folderOption->GetValue(); }));
    Click(d.saveButton);
    ASSERT_TRUE(Until([&] { return !d.IsShown(); }));
    EXPECT_EQ(Setting("DefaultPath"), "\\Support");
    EXPECT_EQ(Setting("DefaultConfig"), "%prompt%");
}

}  // namespace
}  // namespace talvane::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    talvane::ui::gui::Toolkit toolkit(argc, argv);
    if (!toolkit.ok()) {
        std::fputs("no display for the window tests\n", stderr);
        return 1;
    }
    wxImage::AddHandler(new wxPNGHandler);
    return RUN_ALL_TESTS();
}
