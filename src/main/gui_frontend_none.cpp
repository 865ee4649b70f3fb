// A build without the window frontend: the console serves every start.
#include "main/gui_frontend.h"

namespace talvane {

std::unique_ptr<GuiFrontend> StartGuiFrontend(int&, char**) {
    return nullptr;
}

}  // namespace talvane
