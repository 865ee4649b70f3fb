#pragma once
// The open archive and its central directory: finding the end record, reading
// central records, and refusing archives whose entries share data.
#include <string>

#include "platform/file_io.h"
#include "zip/zip_format.h"
#include "zip/zip_report.h"

namespace talvane::zipimpl {

struct Archive {
    fileio::ReadOnlyFile file;
    std::string path;
    long long endPosition = 0;  // 1-based position of the end record; 0: none open
    long long fileSize = 0;

    // The signature nearest the end whose record ends exactly at the end of the file;
    // when none does, the nearest one at all. 0 when there is none.
    long long FindEndRecord() const;
    bool ReadEnd(zipfmt::EndRecord& out) const;
    // Reads the central record at `pos` and moves past it; false when it is cut short
    // or not a central record.
    bool ReadCentral(long long& pos, zipfmt::CentralRecord& cr, std::string& name) const;
    // Index 0: the end record is cut short; else the central record at that index is bad.
    void RaiseDamaged(Reporter& report, long long index) const;
    // False, after raising the error, when two entries' data overlap.
    bool RefuseOverlaps(const zipfmt::EndRecord& end, Reporter& report) const;
};

}  // namespace talvane::zipimpl
