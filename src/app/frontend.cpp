#include "app/frontend.h"

namespace talvane::ui {

const char* AppTitle() {
    return "Talvane";
}

}  // namespace talvane::ui
