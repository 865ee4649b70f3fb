#include "common/event_pump.h"

#include <atomic>
#include <thread>

namespace talvane {

namespace {
std::atomic<EventPump*> g_pump = nullptr;
std::atomic<std::thread::id> g_pumpThread;
}  // namespace

void SetEventPump(EventPump* pump) {
    g_pumpThread = std::this_thread::get_id();
    g_pump = pump;
}
EventPump* GetEventPump() {
    return g_pump;
}

// Windows and input belong to the thread that installed the pump; a transfer
// running beside it must not touch them.
void DoEvents() {
    EventPump* pump = g_pump;
    if (pump && std::this_thread::get_id() == g_pumpThread) pump->Pump();
}

}  // namespace talvane
