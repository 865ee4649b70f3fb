#pragma once
// Zip writer: every entry deflated, with CRC-32 and MS-DOS time stamps.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvane {

class ZipFile;

class ZipWriter {
  public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    long FileCount() const;
    void Comment(const std::string& s);
    bool AddFile(const std::string& filePath, const std::string& entryName = {},
                 const std::string& comment = {});
    bool WriteZip(const std::string& zipPath, bool overwrite = false);

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
