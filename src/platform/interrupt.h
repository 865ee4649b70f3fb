#pragma once
// Files written under a temporary name are removed when the process is ended
// by an interrupt (Ctrl-C), a termination request or a hang-up; otherwise such
// a part would stay beside its target for good, since each run picks a new name.

namespace talvane {

// Installs the handlers (the program's entry point calls it once). They remove
// every registered temporary file, then end the process as the signal would have.
void InstallInterruptCleanup();

// Removes every registered temporary file now: for a window closed in the
// middle of a transfer, just before the process ends.
void RemoveTemporaryPartsNow();

}  // namespace talvane
