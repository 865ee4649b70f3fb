#pragma once
// Process-wide values filled at start-up and read by the rest of the program.
#include <string>

namespace talvane {

struct AppState {
    std::string ExtractFolder;  // no trailing '/', always ends in "/tekmo"
    std::string UserName;
    std::string Password;
    std::string ZipPassword;
};

// The one owner of the process-wide values.
AppState& App();

}  // namespace talvane
