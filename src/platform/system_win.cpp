// The running program, the user, the console, paths and the environment.
#include <fcntl.h>
#include <io.h>
#include <lmcons.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/osversion.h"
#include "platform/platform.h"
#include "platform/win_util.h"

namespace talvane::platform {

std::string CurrentExecutablePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return win::ToInternalPath(win::Utf8(std::wstring(buf.data(), n)));
        buf.resize(buf.size() * 2);
    }
}

bool DisplayAvailable() {
    return true;
}

void UseParentConsole() {
    const auto missing = [](DWORD which) {
        const HANDLE h = ::GetStdHandle(which);
        return h == nullptr || h == INVALID_HANDLE_VALUE;
    };
    if (!missing(STD_OUTPUT_HANDLE) && !missing(STD_ERROR_HANDLE) && !missing(STD_INPUT_HANDLE))
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // Only the streams nobody redirected go to the console.
    if (missing(STD_OUTPUT_HANDLE) || _fileno(stdout) < 0) std::freopen("CONOUT$", "w", stdout);
    if (missing(STD_ERROR_HANDLE) || _fileno(stderr) < 0) std::freopen("CONOUT$", "w", stderr);
    if (missing(STD_INPUT_HANDLE) || _fileno(stdin) < 0) std::freopen("CONIN$", "r", stdin);
}

std::size_t RootLength(std::string_view path) {
    const auto sep = [](char c) { return c == '/' || c == '\\'; };
    if (path.size() >= 3 && path[1] == ':' && sep(path[2])) return 3;
    if (path.size() >= 2 && sep(path[0]) && sep(path[1])) {
        // //server/share/
        std::size_t i = 2, parts = 0;
        while (i < path.size() && parts < 2) {
            if (sep(path[i])) ++parts;
            ++i;
        }
        return parts == 2 ? i : path.size();
    }
    return !path.empty() && sep(path.front()) ? 1 : 0;
}

std::string FolderFromEnvironment(const char* name) {
    const wchar_t* value = ::_wgetenv(win::Wide(name).c_str());
    return value ? win::ToInternalPath(win::Utf8(value)) : std::string();
}

std::string SharedDesktopFolder() {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr,
                                     SHGFP_TYPE_CURRENT, path)) &&
        path[0] != L'\0')
        return win::ToInternalPath(win::Utf8(path));
    // A shell that cannot say: the all-users profile's desktop, under the folder
    // the system keeps it in (PUBLIC since Vista, ALLUSERSPROFILE before).
    const std::string base = FolderFromEnvironment(IsVistaOrLater() ? "PUBLIC" : "ALLUSERSPROFILE");
    return base.empty() ? std::string() : base + "/Desktop";
}

std::string InstalledProgramFolder(const std::string&, UserFolder) {
    return {};
}

std::string CurrentUserName() {
    wchar_t name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!::GetUserNameW(name, &size) || size == 0) return {};
    return win::Utf8(std::wstring(name, size - 1));
}

// No sudo on Windows: elevation keeps the user's own account.
int HandToInvokingUser(const std::string&, std::string& newOwner) {
    newOwner.clear();
    return 0;
}

// A folder below the program folder inherits its access list; narrowing it
// would take the administrators' access away from an installed program.
int RestrictToOwner(const std::string& folder) {
    DWORD attributes = 0;
    if (!win::Attributes(folder, attributes)) return win::LastErrno();
    return win::IsFolder(attributes) ? 0 : ENOTDIR;
}

void DisableCoreDumps() {
    // No crash dialog and no error-report dump that could carry the passwords.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace talvane::platform
