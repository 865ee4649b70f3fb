#include "app/unzip.h"

#include "app/frontend.h"
#include "common/files.h"
#include "common/strings.h"
#include "zip/zip_reader.h"

namespace talvane::ui {

bool UnzipFile(Frontend* frontend, const std::string& zipPath, const std::string& destination) {
    if (!DoesFileExist(zipPath)) return false;
    if (frontend) {
        frontend->Status().SetLabel("Extracting " + StripPath(zipPath));
        frontend->Status().Show();
    }
    const bool result = ExtractZipFile(zipPath, destination);
    if (frontend) frontend->Status().Close();
    return result;
}

}  // namespace talvane::ui
