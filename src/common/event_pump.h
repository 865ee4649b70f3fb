#pragma once
// The one place where long synchronous work lets the user interface breathe.
// Workflows, waits and transfers call DoEvents(); the active frontend decides
// what that means (wxYield, reading console input, nothing in tests).

namespace talvane {

class EventPump {
  public:
    virtual ~EventPump() = default;
    // Process pending window events, then return. Must not block.
    virtual void Pump() = 0;
};

// Process-wide: installed by the frontend at start, cleared on exit.
// With none installed, or on another thread than the one that installed it,
// DoEvents() does nothing.
void SetEventPump(EventPump* pump);
EventPump* GetEventPump();
void DoEvents();

}  // namespace talvane
