#pragma once
// Zip writer: every entry deflated, with CRC-32 and MS-DOS time stamps.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvane {

class ZipFile;

class ZipClass {
  public:
    ZipClass();
    ~ZipClass();
    ZipClass(const ZipClass&) = delete;
    ZipClass& operator=(const ZipClass&) = delete;

    long FileCount() const;
    void Comment(const std::string& s);
    bool AddFile(const std::string& FilePath, const std::string& Filename = {},
                 const std::string& Comment = {});
    bool WriteZip(const std::string& FilePath, bool Overwrite = false);

    // Addition for packages that carry executables: entries added from now on record
    // the file's Unix permission bits (made by a Unix host). Off by default, which
    // writes "version made by" 20 and external attributes 0.
    void StoreUnixModes(bool on) { unixModes_ = on; }

  private:
    // Holds the entries' deflated data on disk until WriteZip, so memory stays small.
    class Spool;
    std::unique_ptr<Spool> spool_;
    bool unixModes_ = false;
    std::string comment_;
    std::vector<std::unique_ptr<ZipFile>> files_;
};

// MS-DOS encodings, exposed for tests.
std::uint16_t DosTime(int hour, int minute, int second);
std::uint16_t DosDate(int year, int month, int day);

}  // namespace talvane
