#pragma once
namespace talvane {
// Windows Vista or later; always true on POSIX.
bool IsVistaOrLater();
}  // namespace talvane
