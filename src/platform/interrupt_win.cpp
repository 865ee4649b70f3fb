// Ctrl-C, Ctrl-Break and a closed console window remove the registered parts.
// The console control handler runs on a thread of its own, so a mutex suffices.
#include <mutex>
#include <string>

#include "platform/interrupt.h"
#include "platform/win_util.h"

namespace talvane {
namespace {

constexpr int kSlots = 32;
std::mutex g_mutex;
std::wstring g_slots[kSlots];
bool g_used[kSlots] = {};

void RemoveAll() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int i = 0; i < kSlots; ++i) {
        if (!g_used[i]) continue;
        ::DeleteFileW(g_slots[i].c_str());
        g_used[i] = false;
    }
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    RemoveAll();
    return FALSE;  // the default handler ends the process
}

}  // namespace

void InstallInterruptCleanup() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveTemporaryPartsNow() {
    RemoveAll();
}

namespace platform::win {

int RemoveOnInterrupt(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i]) continue;
        g_slots[i] = path;
        g_used[i] = true;
        return i;
    }
    return -1;
}

void ForgetOnInterrupt(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_used[slot] = false;
}

}  // namespace platform::win
}  // namespace talvane
