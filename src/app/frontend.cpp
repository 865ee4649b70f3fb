#include "app/frontend.h"

namespace talvane::app {

const char* AppTitle() {
    return "Talvane";
}

}  // namespace talvane::app
