#include "app/tool_package.h"

#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"

namespace talvane::ui {

bool ClaimProgramFolder(Frontend& frontend, FolderLock& lock) {
    if (lock.TryLock(AppPath())) return true;
    DPrint("another launcher is working in the program folder; request refused");
    frontend.MessageBox(std::string("Another Talvane is already working in this program folder.") +
                            kLineBreak + "Please try again when it has finished.",
                        AppTitle(), MsgIcon::Exclamation);
    return false;
}

bool StartUnpacked(const std::string& program, const std::vector<std::string>& arguments) {
    if (DoesFileExist(program) && !MakeExecutable(program)) {
        DPrint("could not mark the program executable: " + program);
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return StartDetached(argv);
}

ToolPackage::Fetch ToolPackage::FetchFromRedist(const std::string& package,
                                                const std::string& remoteName,
                                                const std::string& failureMessage) {
    Transfers& transfers = context_.transfers;
    if (!transfers.OpenRedist()) return Fetch::Unreachable;
    transfers.Ftp().ChangeFolder("/Redist");
    Fetch result = Fetch::Fetched;
    if (!transfers.FetchWhole(package, remoteName)) {
        if (context_.frontend.Splash().IsOpen()) context_.frontend.Splash().Close();
        context_.frontend.MessageBox(failureMessage, AppTitle(), MsgIcon::None);
        result = Fetch::Failed;
    } else if (!context_.signatures.FtpFile(package, remoteName)) {
        result = Fetch::Failed;
    }
    transfers.Close();
    return result;
}

bool ToolPackage::Unpack(const std::string& package, const std::string& shownName) {
    const std::string& extractFolder = context_.session.ExtractFolder;
    MakeSureDirExists(extractFolder);
    if (!DoesFileExist(package)) {
        // No server, no package: the tool already in the tree is what runs.
        DPrint("no package to unpack; the tool tree stays as it is");
        return true;
    }
    // Parts of an extraction that was killed outright are nobody's any more.
    RemoveStaleParts(extractFolder, true);
    std::string problem;
    if (UnzipFile(&context_.frontend, package, extractFolder, &problem)) return true;
    // Nothing of the package reached the tree; a half-new tool is never started.
    DeleteFileQuiet(package);
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Problem extracting " + shownName + "!" + kLineBreak + problem,
                                 AppTitle(), MsgIcon::Critical);
    return false;
}

bool ToolPackage::StartTool(const std::vector<std::string>& arguments) {
    const std::string program =
        context_.session.ExtractFolder + "/" + names::kTekmoExe + names::kExeSuffix;
    if (StartUnpacked(program, arguments)) return true;
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Tekmo could not be started from " + program + ".", AppTitle(),
                                 MsgIcon::Critical);
    return false;
}

}  // namespace talvane::ui
