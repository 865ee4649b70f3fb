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

private:
    std::string comment_;
    std::vector<std::unique_ptr<ZipFile>> files_;
};

// MS-DOS encodings, exposed for tests.
std::uint16_t DosTime(int hour, int minute, int second);
std::uint16_t DosDate(int year, int month, int day);

}  // namespace talvane
