#include "support/fake_frontend.h"

#include <algorithm>

#include "common/strings.h"

namespace talvane::testing {

std::string MatchEntry(const std::vector<std::string>& items, const std::string& text,
                       const std::string& current) {
    for (const std::string& item : items) {
        if (ToLower(item) == ToLower(text)) return item;
    }
    return current;
}

bool FakeMainView::SelectVersion(const std::string& text) {
    const auto it = std::find(list_.begin(), list_.end(), text);
    if (it == list_.end()) return false;
    listIndex_ = static_cast<int>(it - list_.begin());
    return true;
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
