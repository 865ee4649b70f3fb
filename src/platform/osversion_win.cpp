#include "platform/win_util.h"

#include <versionhelpers.h>

#include "platform/osversion.h"

namespace talvane {

bool IsVistaOrLater() {
    return IsWindowsVistaOrGreater();
}

}  // namespace talvane
