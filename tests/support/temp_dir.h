#pragma once
// A private folder under $TMPDIR (or /tmp) that is removed with everything in it
// when the object goes away, including read-only entries.
#include <functional>
#include <string>

#include "support/file_util.h"

namespace talvane::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // absolute, no trailing '/'
    std::string file(const std::string& rel) const { return path_ + "/" + rel; }

  private:
    std::string path_;
};

// A new empty folder under $TMPDIR (or /tmp; Z:/tmp under Wine, where the Linux
// servers can serve it): absolute, '/' separated, no trailing '/'.
std::string NewTempFolder();

// Runs `scenario` in a child process as user/group 65534: 0 passed, 1 failed,
// 3 the child could not give up root.
int RunAsNobody(const std::function<bool()>& scenario);

}  // namespace talvane::testing
