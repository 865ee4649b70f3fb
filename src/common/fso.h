#pragma once
// Folder removal that escalates: tree delete, then reset ownership and
// attributes and retry, then file by file. Never follows a symbolic link out.
#include <string>
#include <string_view>

namespace talvane {

class clsFSO {
  public:
    bool KillDir(std::string_view strPath, bool RecreatePath = false);
    bool KillFile(std::string_view strFile);
    bool DelTree32(std::string_view strPath);
    std::string Get_FileList(std::string_view folder, bool recurse, std::string_view pattern);
    std::string Get_DirList(std::string_view strPath, bool bRecurseSubs = false);
    void ResetAttributes(std::string_view sTargetFile);

  private:
    // Every file below `folder` (links as names, never followed), one by one.
    void KillFilesBelow(const std::string& folder);
};

}  // namespace talvane
