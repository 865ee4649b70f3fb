// Getting the 7-Zip command-line program beside the launcher.
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "platform/platform.h"
#include "app/unzip.h"
#include "zip/zip_reader.h"
#include "app/main_presenter.h"

namespace talvane::ui {

namespace {

std::string BundledSevenZip() {
    return AppPath() + names::kSevenZipFolder + "/" + names::kSevenZipExe + names::kExeSuffix;
}


}  // namespace

std::string QuoteCommandLineArgument(const std::string& text) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string SevenZipExtractArguments(const std::string& archive, const std::string& outFolder) {
    return "x " + QuoteCommandLineArgument(archive) + " -o" + QuoteCommandLineArgument(outFolder) +
           " -y";
}

std::string MainPresenter::SevenZipProgram() const {
    const std::string bundled = BundledSevenZip();
    if (DoesFileExist(bundled)) return bundled;
    for (const char* name : {"7za", "7z", "7zz"}) {
        std::string found = platform::FindOnSearchPath(std::string(name) + names::kExeSuffix);
        if (!found.empty()) {
            DPrint("using the 7-Zip program found on the search path: " + found);
            return found;
        }
    }
    DPrint("no 7-Zip program available");
    return bundled;
}

void MainPresenter::EnsureSevenZip() {
    StatusView& status = frontend_.Status();
    if (commandMode_) {
        status.SetCaption("Please Wait...");
        status.SetLabel("Retrieving Required Files...");
        status.Show();
    }

    const std::string program = BundledSevenZip();
    if (!DoesFileExist(program)) {
        const std::string folder = AppPath() + names::kSevenZipFolder;
        const std::string archive = AppPath() + names::kSevenZipZip;
        MakeSureDirExists(folder);
        if (!endpoints_.SevenZipMirrorURL.empty()) {
            if (DownloadFile(endpoints_.SevenZipMirrorURL, archive) &&
                VerifyHttpDownload(archive, endpoints_.SevenZipMirrorURL)) {
                DPrint("retrieved 7zip from sourceforge");
            } else {
                DPrint("failed to retrieve 7zip from sourceforge");
            }
        }
        if (!DoesFileExist(archive)) {
            DPrint("attempting to retrieve 7zip from Nimbara");
            if (mFTP_.OpenConnection(endpoints_.RepositoryHost, names::kBuiltInUser,
                                     names::kBuiltInPassword)) {
                mFTP_.SetFTPDirectory("/");
                if (FetchWhole(archive, names::kSevenZipZip) &&
                    VerifyFtpDownload(archive, names::kSevenZipZip)) {
                    DPrint("retrieved 7zip from Nimbara");
                } else {
                    DPrint("failed to retrieve 7zip from Nimbara");
                }
                mFTP_.CloseConnection();
            } else {
                DPrint("could not open connection to Nimbara");
            }
        }
        if (DoesFileExist(archive)) {
            DPrint("attempting to extract 7za.zip");
            UnzipFile(&frontend_, archive, folder);
            DeleteFileQuiet(archive);
            if (!DoesFileExist(program)) {
                DPrint("could not extract 7za.zip successfully or file not found:  " + program);
            } else {
                MakeExecutable(program);
            }
        } else {
            DPrint("could not find 7za.zip for extraction!");
        }
    }

    if (commandMode_) status.Close();
}

}  // namespace talvane::ui
