#pragma once
// The window frontend, when this build has one and a display can be opened.
#include <memory>

#include "app/frontend.h"

namespace talvane {

class GuiFrontend {
  public:
    virtual ~GuiFrontend() = default;
    virtual app::Frontend& frontend() = 0;
};

// Null when the build has no window frontend or the toolkit cannot start.
std::unique_ptr<GuiFrontend> StartGuiFrontend(int& argc, char** argv);

}  // namespace talvane
