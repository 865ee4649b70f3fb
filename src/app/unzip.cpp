#include "app/unzip.h"

#include "app/frontend.h"
#include "common/files.h"
#include "common/strings.h"

namespace talvane::app {

bool UnzipFile(Frontend* frontend, const std::string& zipPath, const std::string& destination,
               std::string* firstError,
               const std::function<bool(const ZipEntryInfo&)>& keepExisting,
               const ContentSinkFor& checkContent, const std::string& shownName) {
    if (!DoesFileExist(zipPath)) {
        if (firstError) *firstError = "The file " + zipPath + " is missing";
        return false;
    }
    if (frontend) {
        // The status window and the status line say the same.
        const std::string step =
            "Extracting " + (shownName.empty() ? StripPath(zipPath) : shownName);
        frontend->SetActivity(step);
        frontend->Status().SetLabel(step);
        frontend->Status().Show();
    }
    const bool result =
        ExtractZipFile(zipPath, destination, firstError, keepExisting, checkContent);
    if (frontend) frontend->Status().Close();
    return result;
}

}  // namespace talvane::app
