#include "app/seven_zip.h"

#include <sodium.h>

#include <array>

#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "common/tree_removal.h"
#include "platform/platform.h"

namespace talvane::app {

namespace {

std::string BundledSevenZip() {
    return WorkPath() + names::kSevenZipFolder + "/" + names::kSevenZipExe + names::kExeSuffix;
}

std::string SevenZipOnSearchPath() {
    for (const char* name : {"7za", "7z", "7zz"}) {
        std::string found = platform::FindOnSearchPath(std::string(name) + names::kExeSuffix);
        if (!found.empty()) return found;
    }
    return {};
}

// The file's SHA-256 in lower-case hex, or empty when it cannot be read.
std::string Sha256Hex(const std::string& path) {
    std::string data;
    if (sodium_init() < 0 || !ReadWholeFile(path, data)) return {};
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(data.data()),
                       data.size());
    std::array<char, crypto_hash_sha256_BYTES * 2 + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
}

}  // namespace

std::vector<std::string> SevenZipExtractArguments(const std::string& archive,
                                                  const std::string& outFolder) {
    return {"x", archive, "-o" + outFolder, "-y"};
}

std::vector<std::string> SevenZipListArguments(const std::string& archive) {
    return {"l", "-slt", archive};
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
    // The mirror publishes no signature of the maker's: with a key only a pinned hash vouches.
    const std::string pin = ToLower(Trim(context_.transfers.Hosts().SevenZipMirrorSHA256));
    const bool keyed = context_.signatures.Required();
    if (keyed && pin.empty()) {
        DPrint("7zip mirror skipped: no SevenZipMirrorSHA256 in the settings pins its archive");
        return Fetch::Missed;
    }
    const UrlDownload got = context_.transfers.Download(url, archive, kMaxSevenZipArchiveSize);
    if (got.abort) {
        abort_ = got.abort;
        return Fetch::Aborted;
    }
    if (got.fetched && keyed && Sha256Hex(archive) != pin) {
        const std::string shown = StripPath(StripEndOfString(url, "?"));
        DPrint("refused " + shown + ": its SHA-256 is not the one pinned in the settings");
        DeleteFileQuiet(archive);
        context_.frontend.MessageBox("The file " + shown +
                                         " was refused: its SHA-256 is not the one pinned by "
                                         "SevenZipMirrorSHA256 in the settings." +
                                         kLineBreak + "Nothing from it was unpacked or started.",
                                     AppTitle(), MsgIcon::Critical);
        return Fetch::Refused;
    }
    if (got.fetched && !keyed && !context_.signatures.HttpFile(archive, url)) return Fetch::Refused;
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
    UnzipFile(&context_.frontend, archive, WorkPath() + names::kSevenZipFolder);
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
    const std::string folder = WorkPath() + names::kSevenZipFolder;
    if (context_.signatures.Required()) {
        // Nothing shows that one left by an earlier run came from a checked archive.
        if (platform::PathKind(folder, platform::Links::Name) != platform::Kind::None) {
            DPrint("a 7zip left in the program folder is not used; fetched and checked anew");
            RemoveTree(folder);
            DeleteFileQuiet(folder);
        }
    } else if (DoesFileExist(BundledSevenZip())) {
        return State::Ready;
    }
    StatusView& status = context_.frontend.Status();
    if (context_.unattended) {
        status.SetCaption("Please Wait...");
        status.SetLabel("Retrieving Required Files...");
        status.Show();
    }
    const std::string archive = WorkPath() + names::kSevenZipZip;
    MakeSureDirExists(folder);
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
        ReportDownloadAborted(frontend, *supply.Abort());
    } else if (state == SevenZipSupply::State::Unobtainable) {
        frontend.MessageBox(std::string("The 7-Zip program could not be obtained, so the "
                                        "configuration set cannot be unpacked.") +
                                kLineBreak + "Tekmo is started with the configuration it had.",
                            AppTitle(), MsgIcon::Critical);
    }
}

}  // namespace talvane::app
