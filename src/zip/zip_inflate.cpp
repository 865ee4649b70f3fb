#include "zip/zip_inflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "zip/zip_zlib.h"

namespace talvane::zipimpl {

using zipfmt::CentralRecord;
using zipfmt::LocalHeader;

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Entries up to this size, packed and unpacked, are inflated whole by libdeflate
// (about twice zlib's speed); larger ones stream through zlib in kBufferSize steps.
// A worker so holds at most 2 * kWholeEntryMax + 2 * kBufferSize.
constexpr long long kWholeEntryMax = 4 * 1024 * 1024;
// Deflate cannot expand its input more than about 1032 times, so an archive
// never honestly unpacks to more than this many times its own size.
constexpr long long kMaxExpansion = 1032;

}  // namespace

void EntryPlanner::Reset() {
    const long long most = std::numeric_limits<long long>::max() / kMaxExpansion;
    budget_ = limit_ = kMaxExpansion * std::min(archive_.fileSize, most);
}

Outcome EntryPlanner::Plan(const CentralEntry& entry, const std::string& shownName,
                           EntryPlan& plan) {
    const CentralRecord& cr = entry.cr;
    const std::string& path = archive_.path;
    const LocalData local = archive_.ReadLocal(entry);
    if (local.status == LocalData::Status::BeyondEnd) {
        report_.Error(kZipErrDamaged,
                      "The data of " + shownName + " lies beyond the end of " + path);
        return Outcome::Refused;
    }
    // Data found elsewhere than the directory says is not this entry's.
    if (local.status != LocalData::Status::Ok) {
        report_.Error(kZipErrDamaged, "The local header of " + shownName + " in " + path +
                                          " does not match its central directory record");
        return Outcome::Refused;
    }
    // Encrypted data cannot be read without the password: a stored entry would
    // otherwise be written out scrambled, with no check to notice.
    constexpr std::uint16_t kEncrypted = zipfmt::kFlagEncrypted | zipfmt::kFlagStrongEncryption;
    if (((cr.flags | local.flags) & kEncrypted) || cr.method == zipfmt::kMethodAes) {
        report_.Error(kZipErrEncrypted, "The file " + shownName + " is encrypted");
        return Outcome::Refused;
    }
    if (cr.method != zipfmt::kMethodStored && cr.method != zipfmt::kMethodDeflated) {
        report_.Error(kZipErrMethod,
                      "The compression Method for " + entry.rawName + " is unsupported");
        return Outcome::Refused;
    }
    if (local.compSize == 0) {
        report_.Error(kZipErrDamaged, "The archive " + path + " holds no data for " + shownName);
        return Outcome::Fatal;
    }
    if (local.dataPos > archive_.fileSize ||
        local.compSize > static_cast<std::uint64_t>(archive_.fileSize - local.dataPos)) {
        report_.Error(kZipErrDamaged,
                      "The data of " + shownName + " lies beyond the end of " + path);
        return Outcome::Refused;
    }
    const auto compSize = static_cast<long long>(local.compSize);
    // Only lies about sizes can exhaust the budget; each entry is charged
    // before a byte of it is produced.
    const std::uint64_t yield =
        cr.method == zipfmt::kMethodStored ? local.compSize : cr.uncompressedSize;
    if (yield > static_cast<std::uint64_t>(budget_)) {
        report_.Error(kZipErrSizeMismatch,
                      "The entry " + shownName + " would take " + path + " past " +
                          std::to_string(limit_) +
                          " bytes unpacked, more than its size allows (possible zip bomb)");
        return Outcome::Refused;
    }
    budget_ -= static_cast<long long>(yield);
    plan = {local.dataPos, compSize, cr.uncompressedSize, local.crc, cr.method};
    return Outcome::Done;
}

unsigned char* Buffer::Reserve(std::size_t n) {
    if (n > size || !data) {
        data = std::make_unique_for_overwrite<unsigned char[]>(std::max<std::size_t>(n, 1));
        size = n;
    }
    return data.get();
}

void EntryProducer::DecompressorFree::operator()(libdeflate_decompressor* d) const {
    libdeflate_free_decompressor(d);
}

Outcome EntryProducer::Produce(const EntryPlan& plan, const std::string& shown, EntrySink* out,
                               bool checkCrc) {
    if (plan.method == zipfmt::kMethodStored)
        return CopyStored(plan.pos, plan.compSize, plan.crc, shown, out, checkCrc);
    if (plan.declared <= kWholeEntryMax && plan.compSize <= kWholeEntryMax) {
        if (auto done = InflateWhole(plan, shown, out)) return *done;
    }
    return InflateStream(plan.pos, plan.compSize, plan.declared, plan.crc, shown, out);
}

Outcome EntryProducer::Fail(long number, std::string text, Outcome outcome) {
    events.push_back({number, std::move(text)});
    return outcome;
}

Outcome EntryProducer::ReadFailed(const std::string& shown) {
    return Fail(kZipErrDamaged, "Can't read the data of " + shown + " from " + path_,
                Outcome::Refused);
}

Outcome EntryProducer::WriteFailed(const std::string& shown) {
    return Fail(kZipErrWriteFailed, "Can't write the file " + shown, Outcome::Fatal);
}

Outcome EntryProducer::ChecksumError(const std::string& shown) {
    return Fail(kZipErrChecksum, "Data checksum error in " + shown, Outcome::Refused);
}

// The whole entry in one call; nullopt when the data is anything but exactly
// what was declared: the streaming path then names the fault as it always has.
std::optional<Outcome> EntryProducer::InflateWhole(const EntryPlan& plan, const std::string& shown,
                                                   EntrySink* out) {
    if (!whole_) {
        whole_.reset(libdeflate_alloc_decompressor());
        if (!whole_) return std::nullopt;
    }
    const auto compSize = static_cast<std::size_t>(plan.compSize);
    unsigned char* in = packed_.Reserve(compSize);
    if (file_.ReadAt(in, compSize, plan.pos) != plan.compSize) return std::nullopt;
    unsigned char* data = unpacked_.Reserve(plan.declared);
    std::size_t got = 0;
    if (libdeflate_deflate_decompress(whole_.get(), in, compSize, data, plan.declared, &got) !=
            LIBDEFLATE_SUCCESS ||
        got != plan.declared)
        return std::nullopt;
    if (libdeflate_crc32(0, data, got) != plan.crc) return ChecksumError(shown);
    if (out && !out->Put(data, got)) return WriteFailed(shown);
    return Outcome::Done;
}

void EntryProducer::EnsureBuffers() {
    inBuf_.Reserve(kBufferSize);
    outBuf_.Reserve(kBufferSize);
}

Outcome EntryProducer::CopyStored(long long pos, long long size, std::uint32_t expectedCrc,
                                  const std::string& shown, EntrySink* out, bool checkCrc) {
    EnsureBuffers();
    std::uint32_t crc = 0;
    while (size > 0) {
        const auto want = static_cast<std::size_t>(
            std::min<long long>(size, static_cast<long long>(kBufferSize)));
        const long long n = file_.ReadAt(inBuf_.data.get(), want, pos);
        if (n != static_cast<long long>(want)) return ReadFailed(shown);
        if (checkCrc) crc = libdeflate_crc32(crc, inBuf_.data.get(), want);
        if (out && !out->Put(inBuf_.data.get(), want)) return WriteFailed(shown);
        pos += n;
        size -= n;
    }
    if (checkCrc && crc != expectedCrc) return ChecksumError(shown);
    return Outcome::Done;
}

Outcome EntryProducer::InflateStream(long long pos, long long remaining, std::uint64_t declared,
                                     std::uint32_t expectedCrc, const std::string& shown,
                                     EntrySink* out) {
    zipfmt::RawZStream inf(zipfmt::RawZStream::Mode::Inflate);
    if (!inf.Ok()) return Fail(kZipErrNoZlib, "Zlib is not installed", Outcome::Fatal);
    EnsureBuffers();
    unsigned char* inBuf = inBuf_.data.get();
    unsigned char* outBuf = outBuf_.data.get();
    z_stream& zs = inf.Stream();
    std::uint32_t crc = 0;
    unsigned long long produced = 0;
    for (;;) {
        if (zs.avail_in == 0 && remaining > 0) {
            const auto want = static_cast<std::size_t>(
                std::min<long long>(remaining, static_cast<long long>(kBufferSize)));
            const long long n = file_.ReadAt(inBuf, want, pos);
            if (n != static_cast<long long>(want)) return ReadFailed(shown);
            pos += n;
            remaining -= n;
            zs.next_in = inBuf;
            zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = outBuf;
        zs.avail_out = static_cast<uInt>(kBufferSize);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t have = kBufferSize - zs.avail_out;
        if (have > 0) {
            produced += have;
            if (produced > declared)
                return Fail(kZipErrSizeMismatch,
                            "The entry " + shown + " inflates to more than its " +
                                std::to_string(declared) + " bytes",
                            Outcome::Refused);
            crc = libdeflate_crc32(crc, outBuf, have);
            if (out && !out->Put(outBuf, have)) return WriteFailed(shown);
        }
        if (rc == Z_STREAM_END) break;
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && (zs.avail_in > 0 || remaining > 0)) continue;
        return ChecksumError(shown);  // corrupt or cut-short deflate data
    }
    if (produced != declared)
        return Fail(kZipErrSizeMismatch,
                    "The entry " + shown + " inflates to " + std::to_string(produced) +
                        " bytes, not " + std::to_string(declared),
                    Outcome::Refused);
    if (crc != expectedCrc) return ChecksumError(shown);
    return Outcome::Done;
}

}  // namespace talvane::zipimpl
