#pragma once
// The open archive and its central directory: finding the end record (Zip64 too),
// reading central records and the local headers they point to, and refusing
// archives whose entries share data.
#include <cstdint>
#include <string>

#include "zip/zip_archive_file.h"
#include "zip/zip_format.h"
#include "zip/zip_report.h"

namespace talvane::zipimpl {

// One central record with its sizes and offset taken from a Zip64 field where it
// has one, its stored name and that name decoded to UTF-8.
struct CentralEntry {
    zipfmt::CentralRecord cr;
    std::string rawName, name;
};

// Where an entry's data lies by its local header, and what it must yield.
struct LocalData {
    // OtherName: a local header that names another entry; OtherData: one that
    // gives another CRC or other sizes. Its data is still where it says.
    enum class Status { Ok, BeyondEnd, Mismatch, OtherName, OtherData } status = Status::Ok;
    long long dataPos = 0;
    std::uint64_t compSize = 0;
    std::uint32_t crc = 0;
    std::uint16_t flags = 0;
};

struct Archive {
    ArchiveFile file;
    std::string path;
    long long endPosition = 0;  // 1-based position of the end record; 0: none open
    long long fileSize = 0;

    // The signature nearest the end whose record ends exactly at the end of the file;
    // when none does, the nearest one at all. 0 when there is none.
    long long FindEndRecord() const;
    // The end record, its fields replaced by a Zip64 end record's when a locator
    // stands before it; false when either is cut short or the Zip64 one is missing.
    bool ReadEnd(zipfmt::EndRecord& out) const;
    // True for one part of an archive split over several files or disks.
    static bool SpansDisks(const zipfmt::EndRecord& end);
    // Reads the central record at `pos` and moves past it; false when it is cut short,
    // not a central record or lacks a Zip64 field it refers to.
    bool ReadCentral(long long& pos, CentralEntry& entry) const;
    // The local header of `entry`: Mismatch when it is not there or tells of another
    // entry (another name, a Zip64 size it lacks).
    LocalData ReadLocal(const CentralEntry& entry) const;
    // Index 0: the end record is cut short; else the central record at that index is bad.
    void RaiseDamaged(Reporter& report, long long index) const;
    // False, after raising the error, when two entries' data overlap.
    bool RefuseOverlaps(const zipfmt::EndRecord& end, Reporter& report) const;
};

}  // namespace talvane::zipimpl
