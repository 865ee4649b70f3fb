#include "app/unzip.h"

#include "app/frontend.h"
#include "common/files.h"
#include "common/strings.h"

namespace talvane::ui {

bool UnzipFile(Frontend* frontend, const std::string& zipPath, const std::string& destination,
               std::string* firstError,
               const std::function<bool(const ZipEntryInfo&)>& keepExisting) {
    if (!DoesFileExist(zipPath)) {
        if (firstError) *firstError = "The file " + zipPath + " is missing";
        return false;
    }
    if (frontend) {
        frontend->Status().SetLabel("Extracting " + StripPath(zipPath));
        frontend->Status().Show();
    }
    const bool result = ExtractZipFile(zipPath, destination, firstError, keepExisting);
    if (frontend) frontend->Status().Close();
    return result;
}

}  // namespace talvane::ui
