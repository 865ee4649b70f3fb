#pragma once
// A private folder under $TMPDIR (or /tmp) that is removed with everything in it
// when the object goes away, including read-only entries.
#include <string>

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

}  // namespace talvane::testing
