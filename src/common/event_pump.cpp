#include "common/event_pump.h"

namespace talvane {

namespace {
EventPump* g_pump = nullptr;
}

void SetEventPump(EventPump* pump) {
    g_pump = pump;
}
EventPump* GetEventPump() {
    return g_pump;
}

void DoEvents() {
    if (g_pump) g_pump->Pump();
}

}  // namespace talvane
