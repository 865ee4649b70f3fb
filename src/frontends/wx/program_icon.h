#pragma once
// The program icon at 16, 32, 48 and 256 pixels, for captions and the task switcher.
#include <wx/iconbndl.h>

namespace talvane::frontends::wx {

wxIconBundle ProgramIcons();

}  // namespace talvane::frontends::wx
