#include "startup/app_state.h"

namespace talvane {

AppState& App() {
    static AppState state;
    return state;
}

}  // namespace talvane
