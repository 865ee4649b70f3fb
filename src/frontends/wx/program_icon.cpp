#include "frontends/wx/program_icon.h"

#include <wx/bmpbndl.h>
#include <wx/icon.h>

#include "talvane/program_icon_svg.h"

namespace talvane::frontends::wx {

wxIconBundle ProgramIcons() {
    // Rendered once: every window asks for the same bundle.
    static const wxIconBundle icons = [] {
        wxIconBundle bundle;
        const wxBitmapBundle svg = wxBitmapBundle::FromSVG(kProgramIconSvg, wxSize(256, 256));
        for (const int side : {16, 32, 48, 256}) {
            wxIcon icon;
            icon.CopyFromBitmap(svg.GetBitmap(wxSize(side, side)));
            if (icon.IsOk()) bundle.AddIcon(icon);
        }
        return bundle;
    }();
    return icons;
}

}  // namespace talvane::frontends::wx
