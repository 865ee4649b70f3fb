#include "support/fake_frontend.h"

#include <algorithm>
#include <cctype>

namespace talvane::testing {

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
}  // namespace

FakeMainView::FakeMainView() {
    checks_[ui::MainCheck::SilentInstall] = true;  // "Silent Install" starts ticked
    visible_[ui::MainControl::picUpdate] = false;
}

void FakeMainView::ComboClear() {
    combo_.clear();
    comboText_.clear();
}

void FakeMainView::SetComboText(const std::string& text) {
    for (const std::string& item : combo_) {
        if (Lower(item) == Lower(text)) {
            comboText_ = item;
            return;
        }
    }
}

std::string FakeMainView::ListText() const {
    if (listIndex_ < 0 || listIndex_ >= static_cast<int>(list_.size())) return {};
    return list_[static_cast<std::size_t>(listIndex_)];
}

bool FakeMainView::SelectVersion(const std::string& text) {
    for (std::size_t i = 0; i < list_.size(); ++i) {
        if (list_[i] == text) {
            listIndex_ = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool FakeMainView::Checked(ui::MainCheck box) const {
    const auto it = checks_.find(box);
    return it != checks_.end() && it->second;
}

std::string FakeMainView::Text(ui::MainField field) const {
    const auto it = texts_.find(field);
    return it == texts_.end() ? std::string() : it->second;
}

bool FakeMainView::Enabled(ui::MainControl control) const {
    const auto it = enabled_.find(control);
    return it == enabled_.end() || it->second;
}

bool FakeMainView::Visible(ui::MainControl control) const {
    const auto it = visible_.find(control);
    return it == visible_.end() || it->second;
}

void FakeDialogView::SetComboText(const std::string& text) {
    for (const std::string& item : combo_) {
        if (Lower(item) == Lower(text)) {
            comboText_ = item;
            return;
        }
    }
}

FakeFrontend::FakeFrontend() {
    ui::SetFrontend(this);
}

FakeFrontend::~FakeFrontend() {
    if (ui::GetFrontend() == this) ui::SetFrontend(nullptr);
}

void FakeFrontend::Pump() {
    ++pumps;
    // No re-entry of the hook through pumps it causes itself.
    if (!onPump || inHook_) return;
    inHook_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inHook_};
    onPump();
}

std::string FakeFrontend::OpenFileDialog(const std::string& title, const std::string& filter) {
    fileDialogTitles.push_back(title);
    fileDialogFilters.push_back(filter);
    if (fileDialogAnswers.empty()) return {};
    std::string answer = fileDialogAnswers.front();
    fileDialogAnswers.pop_front();
    return answer;
}

std::unique_ptr<ui::MainView> FakeFrontend::CreateMainView() {
    return std::make_unique<FakeMainView>();
}

std::unique_ptr<ui::DefaultDialogView> FakeFrontend::CreateDefaultDialogView() {
    return std::make_unique<FakeDialogView>();
}

void FakeFrontend::EndProcess(int code) {
    ++endCount;
    throw ProcessEnded{code};
}

std::vector<std::string> FakeFrontend::MessageTexts() const {
    std::vector<std::string> texts;
    for (const RecordedMessage& m : messages) texts.push_back(m.text);
    return texts;
}

bool FakeFrontend::HasMessage(const std::string& text) const {
    return std::any_of(messages.begin(), messages.end(),
                       [&](const RecordedMessage& m) { return m.text == text; });
}

}  // namespace talvane::testing
