#include "frontends/console/console_views.h"

#include <cstdlib>
#include <utility>

#include "app/splash_logic.h"
#include "common/app_paths.h"
#include "common/names.h"
#include "common/strings.h"

namespace talvane::frontends::console {

namespace {

std::size_t Slot(MainCheck box) {
    return static_cast<std::size_t>(box);
}
std::size_t Slot(MainField field) {
    return static_cast<std::size_t>(field);
}
std::size_t Slot(MainControl control) {
    return static_cast<std::size_t>(control);
}

std::string Tick(bool on) {
    return on ? "[x] " : "[ ] ";
}
std::string Radio(bool on) {
    return on ? "(*) " : "( ) ";
}

std::string Button(const std::string& caption, bool enabled) {
    return "[" + caption + "]" + (enabled ? "" : " (disabled)");
}

// Numbered entries with the selected one marked by '>'.
void AppendEntries(std::string& out, const std::vector<std::string>& items, int selected,
                   const std::string& indent, const std::string& emptyNote) {
    if (items.empty()) {
        out += indent + "  " + emptyNote + "\n";
        return;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += indent + (static_cast<int>(i) == selected ? "> " : "  ") + std::to_string(i + 1) +
               ". " + items[i] + "\n";
    }
}

int MatchNoCase(const std::vector<std::string>& items, const std::string& text) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (EqualsNoCase(items[i], text)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

std::string MaskText(const std::string& text) {
    std::string stars;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) stars += '*';  // continuation bytes add nothing
    }
    return stars;
}

int FindEntry(const std::vector<std::string>& items, const std::string& wanted) {
    const int byName = MatchNoCase(items, wanted);
    if (byName >= 0) return byName;
    if (wanted.empty() || wanted.size() > 9) return -1;
    for (char c : wanted) {
        if (c < '0' || c > '9') return -1;
    }
    const long number = std::strtol(wanted.c_str(), nullptr, 10);
    if (number < 1 || number > static_cast<long>(items.size())) return -1;
    return static_cast<int>(number - 1);
}

// ---------------------------------------------------------------- bar

ConsoleBar::ConsoleBar(ConsoleOutput& output, std::string label)
    : output_(output), label_(std::move(label)) {}

void ConsoleBar::SetValue(long value) {
    if (model_.SetValue(value) && active_) output_.Progress(mark_, label_, model_);
}

// ---------------------------------------------------------------- splash

ConsoleSplash::ConsoleSplash(ConsoleOutput& output) : output_(output), bar_(output, "splash") {
    bar_.SetActive(false);
}

void ConsoleSplash::Show() {
    if (open_) return;
    // A new showing is a new window: fresh bar, logo read again.
    bar_.Reset();
    bar_.SetActive(true);
    line_.clear();
    const SplashLayout layout = ComputeSplashLayout(SettingsFolder() + names::kLogoFile);
    width_ = layout.widthTwips;
    height_ = layout.heightTwips;
    open_ = true;
    std::string note = "[splash] shown: window " + std::to_string(width_) + " x " +
                       std::to_string(height_) + " twips, bar " +
                       std::to_string(layout.barHeightTwips) + " twips, ";
    note += layout.logoShown ? "logo " + std::to_string(layout.pictureWidthTwips) + " x " +
                                   std::to_string(layout.pictureHeightTwips) + " twips"
                             : "no logo";
    output_.Note(note);
}

void ConsoleSplash::SetActivity(const std::string& text) {
    if (!open_ || text == line_) return;
    line_ = text;
    if (!text.empty()) output_.Note("[splash] line: " + text);
}

void ConsoleSplash::Close() {
    if (!open_) return;
    open_ = false;
    bar_.SetActive(false);
    output_.Note("[splash] closed");
}

// ---------------------------------------------------------------- status

ConsoleStatus::ConsoleStatus(ConsoleOutput& output) : output_(output) {}

void ConsoleStatus::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    if (open_) output_.Note("[status] caption: " + caption_);
}

void ConsoleStatus::SetLabel(const std::string& text) {
    if (text == label_) return;
    label_ = text;
    if (open_) output_.Note("[status] " + label_);
}

void ConsoleStatus::Show() {
    if (open_) return;
    open_ = true;
    output_.Note("[status] shown: " + caption_ + " | " + label_);
}

void ConsoleStatus::Close() {
    if (!open_) return;
    open_ = false;
    output_.Note("[status] closed");
}

// ---------------------------------------------------------------- main window

ConsoleMainView::ConsoleMainView(ConsoleOutput& output, std::function<void()> onGone)
    : onGone_(std::move(onGone)), bar_(output, "transfer") {}

ConsoleMainView::~ConsoleMainView() {
    if (onGone_) onGone_();
}

void ConsoleMainView::SetSizeTwips(int width, int height) {
    width_ = width;
    height_ = height;
}

void ConsoleMainView::ClearConfigs() {
    combo_.clear();
    comboIndex_ = -1;
    comboText_.clear();
}

std::string ConsoleMainView::ConfigText() const {
    return comboText_;
}

void ConsoleMainView::SetConfigText(const std::string& text) {
    // A drop-down list takes only its own entries (found without regard to case).
    const int index = MatchNoCase(combo_, text);
    if (index < 0) return;
    comboIndex_ = index;
    comboText_ = combo_[static_cast<std::size_t>(index)];
}

std::string ConsoleMainView::SelectedPreviousVersion() const {
    if (listIndex_ < 0 || listIndex_ >= static_cast<int>(list_.size())) return {};
    return list_[static_cast<std::size_t>(listIndex_)];
}

void ConsoleMainView::SelectPreviousVersion(int index) {
    if (index < -1 || index >= static_cast<int>(list_.size())) return;
    listIndex_ = index;
}

bool ConsoleMainView::Checked(MainCheck box) const {
    return checks_[Slot(box)];
}
void ConsoleMainView::SetChecked(MainCheck box, bool value) {
    checks_[Slot(box)] = value;
}
std::string ConsoleMainView::Text(MainField field) const {
    return texts_[Slot(field)];
}
void ConsoleMainView::SetText(MainField field, const std::string& text) {
    texts_[Slot(field)] = text;
}
void ConsoleMainView::SetEnabled(MainControl control, bool enabled) {
    enabled_[Slot(control)] = enabled;
}
bool ConsoleMainView::Enabled(MainControl control) const {
    return enabled_[Slot(control)];
}
void ConsoleMainView::SetVisible(MainControl control, bool visible) {
    visible_[Slot(control)] = visible;
}
bool ConsoleMainView::Visible(MainControl control) const {
    return visible_[Slot(control)];
}

void ConsoleMainView::Show() {
    shown_ = true;
}

void ConsoleMainView::Close() {
    shown_ = false;
}

bool ConsoleMainView::FullLayout() const {
    return width_ > kMainCompactSize.width;
}

std::string ConsoleMainView::Render() const {
    const auto on = [this](MainControl c) { return enabled_[Slot(c)]; };
    std::string out = "=== " + caption_ + " === window " + std::to_string(width_) + " x " +
                      std::to_string(height_) + " twips\n";
    if (!status_.empty() && status_ != "Ready") out += "Status: " + status_ + "\n";
    if (visible_[Slot(MainControl::UpdatePanel)]) {
        out += "A newer version is available: " + Button("Update Me!", true) + "\n";
    }
    if (visible_[Slot(MainControl::SelectConfigGroup)]) {
        out += std::string("Select Config") +
               (on(MainControl::SelectConfigGroup) ? "" : " (disabled)") + "  " +
               Button(layoutCaption_, on(MainControl::LayoutButton)) + "\n";
        AppendEntries(out, combo_, comboIndex_, "  ", "(no configurations)");
        out += "  " + Tick(checks_[Slot(MainCheck::SaveDefault)]) + "Save Config As Default" +
               (on(MainControl::SaveDefaultCheck) ? "" : " (disabled)") + "\n";
        out += "  " + Tick(checks_[Slot(MainCheck::DeleteMe)]) + "Delete Me After Download" +
               (on(MainControl::DeleteMeCheck) ? "" : " (disabled)") + "\n";
        out += "  " + Button("Download & Run", on(MainControl::DownloadRunButton)) + "\n";
    } else if (!FullLayout()) {
        // The compact window without its group still offers the layout switch.
        out += Button(layoutCaption_, on(MainControl::LayoutButton)) + "\n";
    }
    if (FullLayout()) {
        out += "Nimbara Credentials\n";
        out += "  Username: " + texts_[Slot(MainField::User)] + "  [Login]\n";
        out += "  Password: " + MaskText(texts_[Slot(MainField::Password)]) + "\n";
        out += "  Encryption Password: " + MaskText(texts_[Slot(MainField::ZipPassword)]) + "\n";
        out += "Previous tekmo Versions\n";
        AppendEntries(out, list_, listIndex_, "  ", "(none)");
        out += "  [Run Previous Ver]\n";
        out += "Kitworks Installation\n";
        out += "  " + Tick(checks_[Slot(MainCheck::SilentInstall)]) + "Silent Install\n";
        for (const char* app : {"Pellam", "Harlo", "Quorra", "Sorvik", "Umbrin"}) {
            out += std::string("  ") + app + " [>]\n";
        }
        out += "[Save & Quit]\n";
        if (!visible_[Slot(MainControl::SelectConfigGroup)]) {
            out += Button(layoutCaption_, on(MainControl::LayoutButton)) + "\n";
        }
    }
    out += "=== end of window ===\n";
    return out;
}

// ---------------------------------------------------------------- dialog

ConsoleDialogView::ConsoleDialogView(std::function<void()> onShow, std::function<void()> onGone)
    : onShow_(std::move(onShow)), onGone_(std::move(onGone)) {}

ConsoleDialogView::~ConsoleDialogView() {
    if (onGone_) onGone_();
}

void ConsoleDialogView::ClearConfigs() {
    combo_.clear();
    comboIndex_ = -1;
    comboText_.clear();
}

std::string ConsoleDialogView::ConfigText() const {
    return comboText_;
}

void ConsoleDialogView::SetConfigText(const std::string& text) {
    const int index = MatchNoCase(combo_, text);
    if (index < 0) return;
    comboIndex_ = index;
    comboText_ = combo_[static_cast<std::size_t>(index)];
}

void ConsoleDialogView::Show() {
    shown_ = true;
    if (onShow_) onShow_();
}

void ConsoleDialogView::Close() {
    shown_ = false;
    closed_ = true;
}

std::string ConsoleDialogView::Render() const {
    std::string out = std::string("=== ") + kDefaultDialogCaption + " ===\n";
    if (!stored_.empty()) out += stored_ + "\n";
    out += Radio(!autoDownload_) + "Prompt for Config\n";
    out += Radio(autoDownload_) + "Select Cloud Config to Automatically Download\n";
    AppendEntries(out, combo_, comboIndex_, "      ", "(no configurations)");
    out += Radio(!toFolder_) + "Extract to Desktop\n";
    out += Radio(toFolder_) + "Extract to folder below:\n";
    out += "      Folder: " + folder_ + "\n";
    out += "      Do NOT specify a drive letter!\n";
    out += "Custom Logo:  " + logo_ + "\n";
    out += "[Import] [Test] [Save] [Cancel]\n";
    out += "=== end of window ===\n";
    return out;
}

}  // namespace talvane::frontends::console
