#include "common/ownership.h"

#include <cerrno>
#include <exception>
#include <string>

#include "common/log.h"
#include "common/log_sites.h"
#include "platform/platform.h"

namespace talvane {

void ChangeOwnerOfFile(std::string_view path, std::string_view owner) {
    const std::string target(path);
    DPrint(logsite::kChangeOwner + ":");
    DPrint("\t- Passed: " + target);
    DPrint("\t- Optional Parm OwnerAccountName=" + std::string(owner));
    try {
        if (platform::PathKind(target, platform::Links::Name) == platform::Kind::None) {
            DPrint("SetFileSecurity failed with error code " + std::to_string(ENOENT));
            return;
        }
        std::string newOwner;
        if (int err = platform::HandToInvokingUser(target, newOwner)) {
            DPrint("SetFileSecurity failed with error code " + std::to_string(err));
        } else if (!newOwner.empty()) {
            DPrint("Owner of " + target + " changed to " + newOwner);
        }
        // The owner needs to reach and change the entry: u+rwX on it and its folder.
        if (int err = platform::GrantOwnerAccess(target, false))
            DPrint("SetFileSecurity failed with error code " + std::to_string(err));
        const std::size_t slash = target.find_last_of('/');
        if (slash != std::string::npos && slash > 0)
            platform::GrantOwnerAccess(target.substr(0, slash), false);
    } catch (const std::exception& e) {
        ReportFailure(logsite::kChangeOwner, ErrorMarker::Dashed, 5, e.what());
    }
}

}  // namespace talvane
