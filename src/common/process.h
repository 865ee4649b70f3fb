#pragma once
// Starting programs from an argument vector: argv[0] is the program, the rest
// its arguments, passed as they are (no shell; the platform layer quotes them
// once, on Windows only).
#include <optional>
#include <string>
#include <vector>

namespace talvane {

// Starts the program and does not wait for it. False when it could not start.
bool StartDetached(const std::vector<std::string>& argv);
// Starts the program and waits for its end, letting the interface run: its exit
// code, or nothing when it could not be started or watched. `standardInput`,
// when given, is written to the program's standard input; with `outputFile`,
// its standard output goes to that new file (an existing one fails the start).
std::optional<long> RunAndWait(const std::vector<std::string>& argv,
                               const std::string* standardInput = nullptr,
                               const std::string* outputFile = nullptr);
// Waits `seconds`, pumping events every 100 ms.
void Delay(double seconds);

}  // namespace talvane
