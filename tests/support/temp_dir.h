#pragma once
// A private folder under $TMPDIR (or /tmp) that is removed with everything in it
// when the object goes away, including read-only entries.
#include <functional>
#include <string>
#include <vector>

namespace talvane::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Absolute path without a trailing '/'.
    const std::string& path() const { return path_; }
    // path() + "/" + rel
    std::string file(const std::string& rel) const;

  private:
    std::string path_;
};

// Writes `text` to `path`, creating missing parent folders; a failure fails the test.
void Put(const std::string& path, const std::string& text = "x");
// The file's content, or "<missing>".
std::string Get(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> ListNames(const std::string& folder);
// Runs `scenario` in a child process as user/group 65534: 0 passed, 1 failed,
// 3 the child could not give up root.
int RunAsNobody(const std::function<bool()>& scenario);

}  // namespace talvane::testing
