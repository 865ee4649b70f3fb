#pragma once
// Registration of temporary files for removal by the interrupt handlers.
#include <signal.h>

#include <string>

#include "platform/interrupt.h"

namespace talvane {

// Registers the file `name` relative to the folder descriptor `folderFd`
// (AT_FDCWD for a path relative to the working folder or absolute).
// Returns a slot for ForgetOnInterrupt, or -1 when every slot is taken or the
// name is too long (the file is then simply not covered).
int RemoveOnInterrupt(int folderFd, const std::string& name);
void ForgetOnInterrupt(int slot);

// Holds those signals back while it lives. Creating a file and registering it
// happen under one: a signal arriving as the creating call returns would
// otherwise find the file not yet registered.
class HoldInterrupts {
  public:
    HoldInterrupts();
    ~HoldInterrupts();
    HoldInterrupts(const HoldInterrupts&) = delete;
    HoldInterrupts& operator=(const HoldInterrupts&) = delete;

  private:
    sigset_t old_{};
};

}  // namespace talvane
