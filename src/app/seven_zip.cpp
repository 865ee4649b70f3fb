#include "app/seven_zip.h"

#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "platform/platform.h"

namespace talvane::ui {

namespace {

std::string BundledSevenZip() {
    return AppPath() + names::kSevenZipFolder + "/" + names::kSevenZipExe + names::kExeSuffix;
}

std::string SevenZipOnSearchPath() {
    for (const char* name : {"7za", "7z", "7zz"}) {
        std::string found = platform::FindOnSearchPath(std::string(name) + names::kExeSuffix);
        if (!found.empty()) return found;
    }
    return {};
}

}  // namespace

std::vector<std::string> SevenZipExtractArguments(const std::string& archive,
                                                  const std::string& outFolder) {
    return {"x", archive, "-o" + outFolder, "-y"};
}

std::string SevenZipSupply::Program() const {
    std::string bundled = BundledSevenZip();
    if (DoesFileExist(bundled)) return bundled;
    if (std::string found = SevenZipOnSearchPath(); !found.empty()) {
        DPrint("using the 7-Zip program found on the search path: " + found);
        return found;
    }
    DPrint("no 7-Zip program available");
    return bundled;
}

SevenZipSupply::Fetch SevenZipSupply::FromMirror(const std::string& archive) {
    const std::string& url = context_.transfers.Hosts().SevenZipMirrorURL;
    if (url.empty()) return Fetch::Missed;
    const UrlDownload got = context_.transfers.Download(url, archive);
    if (got.abort) {
        abort_ = got.abort;
        return Fetch::Aborted;
    }
    if (got.fetched && !context_.signatures.HttpFile(archive, url)) return Fetch::Refused;
    DPrint(got.fetched ? "retrieved 7zip from sourceforge"
                       : "failed to retrieve 7zip from sourceforge");
    return got.fetched ? Fetch::Got : Fetch::Missed;
}

SevenZipSupply::Fetch SevenZipSupply::FromRepository(const std::string& archive) {
    DPrint("attempting to retrieve 7zip from Nimbara");
    Transfers& transfers = context_.transfers;
    if (!transfers.OpenRepositoryAsMember()) {
        DPrint("could not open connection to Nimbara");
        return Fetch::Missed;
    }
    transfers.Ftp().ChangeFolder("/");
    Fetch result = Fetch::Missed;
    if (transfers.FetchWhole(archive, names::kSevenZipZip)) {
        result =
            context_.signatures.FtpFile(archive, names::kSevenZipZip) ? Fetch::Got : Fetch::Refused;
    }
    DPrint(result == Fetch::Got ? "retrieved 7zip from Nimbara"
                                : "failed to retrieve 7zip from Nimbara");
    transfers.Close();
    return result;
}

void SevenZipSupply::Unpack(const std::string& archive) {
    DPrint("attempting to extract 7za.zip");
    UnzipFile(&context_.frontend, archive, AppPath() + names::kSevenZipFolder);
    DeleteFileQuiet(archive);
    const std::string program = BundledSevenZip();
    if (!DoesFileExist(program)) {
        DPrint("could not extract 7za.zip successfully or file not found:  " + program);
    } else {
        MakeExecutable(program);
    }
}

SevenZipSupply::State SevenZipSupply::Ensure() {
    abort_.reset();
    if (DoesFileExist(BundledSevenZip())) return State::Ready;
    StatusView& status = context_.frontend.Status();
    if (context_.unattended) {
        status.SetCaption("Please Wait...");
        status.SetLabel("Retrieving Required Files...");
        status.Show();
    }
    const std::string archive = AppPath() + names::kSevenZipZip;
    MakeSureDirExists(AppPath() + names::kSevenZipFolder);
    Fetch fetch = FromMirror(archive);
    if (fetch == Fetch::Missed) fetch = FromRepository(archive);
    if (fetch == Fetch::Got) {
        Unpack(archive);
    } else {
        DPrint("could not find 7za.zip for extraction!");
    }
    if (context_.unattended) status.Close();

    if (fetch == Fetch::Aborted) return State::Aborted;
    // A tampered 7-Zip is never used, nor does another take its place unasked.
    if (fetch == Fetch::Refused) return State::Refused;
    if (DoesFileExist(BundledSevenZip()) || !SevenZipOnSearchPath().empty()) return State::Ready;
    return State::Unobtainable;
}

void ReportSevenZipMissing(Frontend& frontend, const SevenZipSupply& supply,
                           SevenZipSupply::State state) {
    CloseSideWindows(frontend);
    if (state == SevenZipSupply::State::Aborted && supply.Abort()) {
        ReportDownloadAborted(frontend, supply.Abort()->number, supply.Abort()->description);
    } else if (state == SevenZipSupply::State::Unobtainable) {
        frontend.MessageBox(std::string("The 7-Zip program could not be obtained, so the "
                                        "configuration set cannot be unpacked.") +
                                kLineBreak + "Tekmo was not started.",
                            AppTitle(), MsgIcon::Critical);
    }
}

}  // namespace talvane::ui
