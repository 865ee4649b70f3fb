#include "platform/osversion.h"

namespace talvane {

// The question only chose between two Windows permission tools; every system
// this build runs on has the newer behaviour.
bool IsVistaOrLater() {
    return true;
}

}  // namespace talvane
