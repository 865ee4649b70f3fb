// Real widgets under Xvfb, clicked by wxUIActionSimulator, against the loopback cloud: each widget
// reaches its action (tested in tests/app), each window keeps its exact size and is shot as a PNG.
#include <gtest/gtest.h>
#include <cstdio>
#ifndef _WIN32
#include <dlfcn.h>
#include <fnmatch.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <wx/artprov.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/statbmp.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
// windows.h, which the toolkit brings on Windows, would rename the frontend's MessageBox.
#undef MessageBox

#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"
#include "app/messages.h"
#include "app/window_layout.h"
#include "common/files.h"
#include "frontends/wx/wx_frontend.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

// The pictures of the icon table's boxes, in its order.
constexpr const char* kIconNames[] = {"none", "critical", "exclamation", "information"};

class WxWindowTest : public WorkflowTest {
  protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        frontends::wx::WxOptions options;
        options.onEnd = [](int code) { throw code; };  // the handler that ended stops it
        options.pickFile = [this](auto&, auto& wildcard, auto&) {  // the next answer, or a cancel
            wildcard_ = wildcard;
            return picks_ < fileAnswers_.size() ? fileAnswers_[picks_++] : std::string();
        };
        gui_ = std::make_unique<frontends::wx::WxFrontend>(options);
        SetEventPump(gui_.get());
        answerer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {  // boxes are answered with OK
            for (wxWindow* w : wxTopLevelWindows)
                if (auto* box = dynamic_cast<wxDialog*>(w); box && box->IsModal()) {
                    if (shootBoxes_ && (!box->IsShownOnScreen() || ++boxTicks_ < 25))
                        return;  // drawn first, then shot
                    if (shootBoxes_) Save(*box, std::string("message-") + kIconNames[icon_++ % 4]);
                    boxTicks_ = 0;
                    drawnIcons_.push_back(IconOf(*box));
                    box->EndModal(wxID_OK);
                }
        });
        answerer_.Start(20);
    }
    void TearDown() override {
        main_.reset();
        mainView_.reset();
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
            if ((held = done()) || std::chrono::steady_clock::now() > deadline) loop.ScheduleExit();
        });
        poll.Start(10);
        loop.Run();
        return held;
    }
    // The pixels of the icon a box shows, "" for none.
    static std::string IconOf(const wxWindow& box) {
        for (const wxWindow* child : box.GetChildren())
            if (auto* icon = dynamic_cast<const wxStaticBitmap*>(child))
                return Pixels(icon->GetBitmap());
        return {};
    }
    static std::string Pixels(const wxBitmap& bitmap) {
        const wxImage image = bitmap.ConvertToImage();
        return std::string(reinterpret_cast<const char*>(image.GetData()),
                           static_cast<size_t>(image.GetWidth()) * image.GetHeight() * 3);
    }
    // Every shown control lies inside its parent's client area, and none is
    // smaller than its content (a caption, the longest list entry) needs.
    static void ExpectNothingClipped(const wxWindow& parent, const std::string& where) {
        for (const wxWindow* child : parent.GetChildren()) {
            if (!child->IsShown() || child->IsTopLevel()) continue;
            const std::string what = where + ": " + child->GetName().ToStdString() + " \"" +
                                     child->GetLabel().ToStdString() + "\"";
            EXPECT_TRUE(wxRect(parent.GetClientSize()).Contains(child->GetRect())) << what;
            const wxSize best = child->GetBestSize(), size = child->GetSize();
            const bool sizedByContent = dynamic_cast<const wxControl*>(child) &&
                                        !dynamic_cast<const wxTextCtrl*>(child) &&
                                        !dynamic_cast<const wxGauge*>(child);
            EXPECT_TRUE(!sizedByContent || (best.x <= size.x && best.y <= size.y))
                << what << " needs " << best.x << "x" << best.y;
            ExpectNothingClipped(*child, where);
        }
    }
    // Tab and Shift+Tab from the check box (clicked twice to take the focus)
    // reach only controls on the screen.
    void ExpectTabStaysOnScreen(wxCheckBox& start) {
        Click(&start), Click(&start);
        ASSERT_TRUE(Until([&] { return wxWindow::FindFocus() == &start && !start.GetValue(); }));
        wxUIActionSimulator sim;
        for (int key = 0; key < 16; ++key) {
            const wxWindow* before = wxWindow::FindFocus();
            sim.Char(WXK_TAB, key < 8 ? wxMOD_NONE : wxMOD_SHIFT);
            ASSERT_TRUE(Until([&] { return wxWindow::FindFocus() != before; }, 2000));
            // (At the end of the chain GTK leaves no control focused.)
            const wxWindow* focus = wxWindow::FindFocus();
            EXPECT_TRUE(!focus || focus->IsShownOnScreen())
                << focus->GetLabel() << " has the focus";
        }
    }
    void Click(wxWindow* control) {
        wxUIActionSimulator sim;
        sim.MouseMove(control->GetScreenRect().GetPosition() + control->GetSize() / 2);
        sim.MouseClick();
    }

    // The window (at its exact size w x h in twips, when given) as drawn on the screen.
    void Shoot(wxWindow* window, const std::string& name, int w = 0, int h = 0) {
        ASSERT_TRUE(window && Until([&] { return window->IsShownOnScreen(); }));
        Until([] { return false; }, 500);
        const wxSize designed = w ? frontends::wx::TwipsToPixels(w, h, window) : wxSize();
        EXPECT_TRUE(window->GetSize().x >= designed.x && window->GetSize().y >= designed.y)
            << name << " is smaller than designed";
        ExpectNothingClipped(*window, name);
        Save(*window, name);
    }
    void Save(const wxWindow& window, const std::string& name) {
        const wxRect r = window.GetScreenRect();
        wxBitmap shot(r.width, r.height);
        wxScreenDC screen;
#ifdef _WIN32
        const auto [type, suffix] =
            std::pair{wxBITMAP_TYPE_BMP, ".bmp"};  // no PNG writer in this build
#else
        // The screen's drawing surface keeps a copy of what it read first;
        // marking it changed makes every shot read the screen afresh.
        const auto target =
            reinterpret_cast<void* (*)(void*)>(dlsym(RTLD_DEFAULT, "cairo_get_target"));
        const auto dirty =
            reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "cairo_surface_mark_dirty"));
        if (void* cr = screen.GetImpl()->GetCairoContext(); cr && target && dirty)
            dirty(target(cr));
        const auto [type, suffix] = std::pair{wxBITMAP_TYPE_PNG, ".png"};
#endif
        wxMemoryDC(shot).Blit(0, 0, r.width, r.height, &screen, r.x, r.y);  // and lets go of it
        const char* dir = std::getenv("TALVANE_SCREENSHOT_DIR");
        const std::string folder =
            dir && *dir ? dir : std::string(TALVANE_BINARY_DIR) + "/screenshots";
        EXPECT_TRUE(MakeSureDirExists(folder) && shot.SaveFile(folder + "/" + name + suffix, type));
    }
    frontends::wx::MainFrame& OpenMain(bool expanded) {
        mainView_ = gui_->CreateMainView();
        main_ = std::make_unique<app::MainPresenter>(*gui_, *mainView_, session_, endpoints_);
        gui_->Attach(main_.get(), nullptr);
        main_->Load();
        if (expanded) main_->Expand();
        main_->Show();
        return *gui_->MainWindow()->Frame();
    }

    std::unique_ptr<frontends::wx::WxFrontend> gui_;
    std::unique_ptr<app::MainView> mainView_;
    std::unique_ptr<app::MainPresenter> main_;
    std::vector<std::string> fileAnswers_;
    std::vector<std::string> drawnIcons_;
    std::string wildcard_;
    bool shootBoxes_ = false;
    int boxTicks_ = 0, icon_ = 0;
    size_t picks_ = 0;
    wxTimer answerer_;
};

TEST_F(WxWindowTest, MessageBoxesDrawTheIconAskedFor) {
    const std::pair<app::MsgIcon, int> table[] = {{app::MsgIcon::None, 0},
                                                  {app::MsgIcon::Critical, wxICON_ERROR},
                                                  {app::MsgIcon::Exclamation, wxICON_WARNING},
                                                  {app::MsgIcon::Information, wxICON_INFORMATION}};
    shootBoxes_ = true;
    for (const auto& [icon, art] : table) {
        drawnIcons_.clear();
        gui_->MessageBox("Logo Imported.", "Talvane", icon);
        ASSERT_EQ(drawnIcons_.size(), 1u);
        EXPECT_EQ(drawnIcons_[0], art ? Pixels(wxArtProvider::GetMessageBoxIcon(art)) : "") << art;
    }
}

TEST_F(WxWindowTest, EscapeClosesTheDialogWithoutSaving) {
    const std::unique_ptr<app::DefaultDialogView> view = gui_->CreateDefaultDialogView();
    app::DefaultDialogPresenter dialog(*gui_, *view, session_, endpoints_);
    gui_->Attach(nullptr, &dialog);
    view->Show();
    frontends::wx::DialogFrame& d = *gui_->DialogWindow()->Frame();
    ASSERT_TRUE(Until([&] { return d.IsShownOnScreen(); }));
    Click(d.folderText);
    wxUIActionSimulator().Char(WXK_ESCAPE);
    ASSERT_TRUE(Until([&] { return !d.IsShown(); }));
    EXPECT_EQ(Setting("DefaultPath"), "");
}

// >> and << keep the exact sizes; while Harlo's setup runs (until the test lets it end) Download
// && Run is refused and << still works; then Download && Run deploys and starts the tool.
TEST_F(WxWindowTest, LayoutsTheBusyGuardAndDownloadRun) {
    const std::string release = tmp_.file("release-setup"), started = release + ".started";
    ASSERT_TRUE(WriteStandIn(web_ + "/Subscribers/" + kSubscriber + "/Harlo/HarloSetup.exe",
                             "HarloSetup", release));
    frontends::wx::MainFrame& f = OpenMain(/*expanded=*/false);
    Shoot(&f, "main-compact", app::kMainCompactSize.width, app::kMainCompactSize.height);
    const wxSize compact = f.GetSize();
    EXPECT_EQ(wxWindow::FindFocus(), f.configCombo) << "the keys work on the filled list";
    ExpectTabStaysOnScreen(*f.saveDefaultCheck);
    Click(f.layoutButton);
    ASSERT_TRUE(Until([&] { return f.layoutButton->GetLabel() == "<<"; }));
    Shoot(&f, "main-full", app::kMainFullSize.width, app::kMainFullSize.height);
    const wxSize full = f.GetSize();
    gui_->Status().SetLabel("Extracting Config...");
    gui_->Status().Show();
    Shoot(gui_->StatusWindow().Frame(), "status");
    EXPECT_EQ(gui_->StatusWindow().Frame()->GetParent(), &f);
    EXPECT_EQ(gui_->StatusWindow().Frame()->GetTitle(), "Talvane") << "a caption before any is set";
    gui_->Status().Close();
    gui_->Splash().Show();  // the unattended run: the status window keeps off the splash's bar
    gui_->Status().Show();
    EXPECT_TRUE(Until([&] {
        return !gui_->StatusWindow().Frame()->GetScreenRect().Intersects(
            gui_->SplashWindow().Frame()->GetScreenRect());
    })) << "the status window covers the splash";
    gui_->Status().Close();
    gui_->Splash().Close();
    gui_->SetActivity("Starting Tekmo");  // a step goes to the same line
    EXPECT_EQ(f.activityLabel->GetLabel(), "Starting Tekmo");
    // Posted: a simulated click would wait in a yield of its own, where the work could not pump.
    f.installHarloButton->GetEventHandler()->AddPendingEvent(
        wxCommandEvent(wxEVT_BUTTON, f.installHarloButton->GetId()));
    int stage = 0;  // while busy the actions look disabled and << still works
    ASSERT_TRUE(Until([&] {
        if (stage == 0 && DoesFileExist(started) && main_->Busy()) {
            EXPECT_TRUE(!f.downloadRunButton->IsEnabled() && !f.loginButton->IsEnabled() &&
                        f.deleteMeCheck->IsEnabled() && wxIsBusy());
            Click(f.layoutButton), ++stage;
        }
        if (stage == 1 && f.layoutButton->GetLabel() == ">>") WriteFile(release, ""), ++stage;
        return stage == 2 && !main_->Busy();
    }));
    EXPECT_TRUE(f.downloadRunButton->IsEnabled() && !wxIsBusy());
    EXPECT_EQ(f.progressGauge->GetValue(), 0) << "an idle bar is empty";
    EXPECT_EQ(f.GetSize(), compact) << "<< while busy";
    Click(f.layoutButton);
    EXPECT_TRUE(Until([&] { return f.GetSize() == full; })) << "the full width changed";
    Click(f.layoutButton);
    ASSERT_TRUE(Until([&] { return f.GetSize() == compact; }));
    mainView_->SetConfigText("Field Team");
    Click(f.downloadRunButton);
    ASSERT_TRUE(Until([&] { return gui_->Ended(); })) << RunLog();
    // While a file came, the line's amount was the bar's (to the line's 0.1 of its unit).
    const std::string download = gui_->MainWindow()->LastTransferLine();
    double done = 0, total = 0;
    ASSERT_EQ(std::sscanf(download.c_str(), "Downloading %*s - %lf of %lf", &done, &total), 2)
        << download;
    EXPECT_NEAR(gui_->MainWindow()->LastTransferGauge() / 1000.0, done / total,
                0.05 / total + 0.001)
        << download;
    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started with arguments: []")) << RunLog();
    EXPECT_GT(gui_->MainWindow()->GaugeBar().GaugeUpdates(), 1)
        << "transfer progress reaches the bar";
}

// Import refuses a missing file and a folder, then takes the logo; Test and Save; both splash
// layouts.
TEST_F(WxWindowTest, DialogImportsTestsAndSavesThenSaveQuitStoresWhatWasEntered) {
    const std::unique_ptr<app::DefaultDialogView> view = gui_->CreateDefaultDialogView();
    app::DefaultDialogPresenter dialog(*gui_, *view, session_, endpoints_);
    gui_->Attach(nullptr, &dialog);
    dialog.Load();
    view->Show();
    frontends::wx::DialogFrame& d = *gui_->DialogWindow()->Frame();
    Shoot(&d, "default-config");
    gui_->Splash().Show();
    gui_->Splash().Bar().SetValue(60);
    Shoot(gui_->SplashWindow().Frame(), "splash", app::kSplashBarOnlySize.width,
          app::kSplashBarOnlySize.height);
    wxFrame* splashFrame = gui_->SplashWindow().Frame();
    const wxSize designed = splashFrame->GetSize();
    const wxRect barBefore = splashFrame->FindWindow("splashBar")->GetRect();
    gui_->SetActivity("Checking signature");  // the unattended run's line: one text line more
    const wxStaticText* line = gui_->SplashWindow().ActivityLine();
    ASSERT_TRUE(line && line->GetLabel() == "Checking signature");
    // Exact: the line takes the bar's place, the bar moves down by its height; the frame grows
    // by as much once the window manager (late under load) has applied it.
    const int lineHeight = line->GetSize().y;
    EXPECT_EQ(line->GetPosition().y, barBefore.y);
    EXPECT_EQ(splashFrame->FindWindow("splashBar")->GetPosition().y, barBefore.y + lineHeight);
    EXPECT_LT(lineHeight, 2 * line->GetCharHeight());
    const wxSize wanted(designed.x, designed.y + lineHeight);
    EXPECT_TRUE(Until([&] { return splashFrame->GetSize() == wanted; }, 15000))
        << splashFrame->GetSize().y << " against " << wanted.y;
    Shoot(gui_->SplashWindow().Frame(), "splash-line");
    gui_->Splash().Close();
    const std::string missing = tmp_.file("Pictures/Missing.bmp"),
                      logo = tmp_.file("Pictures/Logo.bmp");
    wxImage picture(300, 100);
    picture.SetRGB(wxRect(0, 0, 300, 100), 0x2a, 0x78, 0xad);
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("Pictures")) &&
                picture.SaveFile(logo, wxBITMAP_TYPE_BMP));
    fileAnswers_ = {missing, tmp_.file("Pictures"), logo};
    Click(d.importButton);
    ASSERT_TRUE(Until([&] { return d.logoLabel->GetLabel() == "Found!"; }));
    EXPECT_EQ(gui_->Messages().at(0).text,
              missing + "\nFile not found.\nPlease verify the correct file name was given.");
    EXPECT_EQ(gui_->Messages().at(0).icon, app::MsgIcon::Exclamation);
#ifndef _WIN32
    EXPECT_EQ(fnmatch(wildcard_.substr(wildcard_.find('|') + 1).c_str(), "Logo.Bmp", 0), 0)
        << wildcard_;
#endif
    gui_->Splash().Show();  // the logo above the bar
    gui_->Splash().Bar().SetValue(60);
    Shoot(gui_->SplashWindow().Frame(), "splash-logo", 4500, 1875);
    gui_->Splash().Close();
#ifdef _WIN32  // under Wine this poll does not run inside the preview's pumping: only its end is
               // seen
    d.testButton->GetEventHandler()->AddPendingEvent(
        wxCommandEvent(wxEVT_BUTTON, d.testButton->GetId()));
    Until([] { return false; }, 4000);
#else
    Click(d.testButton);                    // previews the splash above the dialog
    const wxWindow* splashOwner = nullptr;  // seen while the preview runs
    ASSERT_TRUE(Until([&] {
        wxFrame* splash = gui_->SplashWindow().Frame();
        return splash && (splashOwner = splash->GetParent());
    }));
    EXPECT_EQ(splashOwner, &d);
#endif
    ASSERT_TRUE(Until([&] { return gui_->SplashWindow().Frame() == nullptr; }));
    Click(d.folderText);  // typing a folder chooses it
    d.folderText->SetInsertionPointEnd();
    wxUIActionSimulator().Text("2");
    Click(d.saveButton);
    ASSERT_TRUE(Until([&] { return !d.IsShown(); }));
    EXPECT_EQ(Setting("DefaultPath"), "\\Support2");
    // Then in the main window the user name and Save Config As Default reach Save && Quit.
    frontends::wx::MainFrame& f = OpenMain(/*expanded=*/true);
    ASSERT_TRUE(Until([&] { return f.IsShownOnScreen(); }));
    Click(f.passwordText);  // Enter there and Alt+L test the login; the window stays
    ASSERT_TRUE(Until([&] { return wxWindow::FindFocus() == f.passwordText; }));
    for (const auto& [key, modifier] : {std::pair{int{WXK_RETURN}, wxMOD_NONE}, {'l', wxMOD_ALT}}) {
        const size_t shown = gui_->Messages().size();
        wxUIActionSimulator().Char(key, modifier);
        ASSERT_TRUE(Until([&] { return gui_->Messages().size() > shown; })) << key;
        EXPECT_EQ(gui_->Messages().back().text, std::string("Test Login Success!") +
                                                    app::kLineBreak +
                                                    "Config list has been refreshed!");
    }
    const size_t shown = gui_->Messages().size();  // the button greys while it works
    Click(f.loginButton);
    ASSERT_TRUE(Until([&] { return gui_->Messages().size() > shown; }));
    EXPECT_TRUE(Until([&] { return !main_->Busy() && wxWindow::FindFocus() == f.loginButton; }))
        << "the keys are back where they were after the box";
    f.userText->ChangeValue("tech9");
    mainView_->SetConfigText("Office");
    Click(f.saveDefaultCheck);  // events arrive in order: before Save && Quit
    Click(f.saveQuitButton);
    ASSERT_TRUE(Until([&] { return gui_->Ended(); }));
    EXPECT_EQ(Setting("UserName"), "tech9");
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
}

}  // namespace
}  // namespace talvane::testing

// A toolkit assertion, warning or error is a fault of the windows under test.
class FailingLog final : public wxLog {
    void DoLogTextAtLevel(wxLogLevel level, const wxString& text) override {
        if (level <= wxLOG_Warning) ADD_FAILURE() << "wx log: " << text;
    }
};

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    talvane::frontends::wx::Toolkit toolkit(argc, argv);
    if (!toolkit.ok()) return std::fputs("no display for the window tests\n", stderr), 1;
    wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                          const wxString& msg) {
        ADD_FAILURE_AT(file.utf8_str().data(), line) << "wx assertion " << cond << ": " << msg;
    });
    std::unique_ptr<wxLog>(wxLog::SetActiveTarget(std::make_unique<FailingLog>().release()));
#ifndef _WIN32
    wxImage::AddHandler(new wxPNGHandler);
#endif
    return RUN_ALL_TESTS();
}
