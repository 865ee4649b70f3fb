#pragma once
// Taking ownership and granting access before a stubborn delete is retried.
#include <string_view>

namespace talvane {

// As root: chown to the invoking user (SUDO_UID/SUDO_GID); always chmod u+rwX
// on the target and its parent. Never world-writable.
void ChangeOwnerOfFile(std::string_view path, std::string_view owner = {});

}  // namespace talvane
