#include "app/delta_download.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"

namespace talvane::app {

namespace {
// A manifest lists every entry in about a hundred bytes.
constexpr std::int64_t kMaxManifestBytes = 32LL << 20;
// Bytes between two spans that cost less to fetch than one more transfer.
constexpr std::int64_t kJoinGap = 256 << 10;

std::string Binary(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

std::string Megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
    return text;
}
}  // namespace

std::string DeltaPath(const std::string& package) {
    return package + ".delta";
}

DeltaPlan PlanDelta(const EntryManifest& manifest,
                    const std::function<bool(const ZipEntryInfo&)>& keep) {
    DeltaPlan plan;
    std::vector<net::ByteRange> spans;
    for (const ManifestEntry& e : manifest.entries) {
        if (e.size == 0) continue;  // nothing of it is read
        ZipEntryInfo info;
        info.name = e.name;
        info.size = e.size;
        info.compressedSize = e.compressedSize;
        info.crc = e.crc;
        info.localOffset = e.offset;
        if (keep && keep(info)) continue;
        ++plan.files;
        spans.push_back({static_cast<std::int64_t>(e.offset), static_cast<std::int64_t>(e.span)});
    }
    const auto directory = static_cast<std::int64_t>(manifest.directoryOffset);
    plan.directory = {directory, static_cast<std::int64_t>(manifest.packageSize) - directory};
    std::sort(spans.begin(), spans.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    for (const net::ByteRange& span : spans) {
        if (span.length <= 0) continue;
        if (!plan.ranges.empty()) {
            net::ByteRange& last = plan.ranges.back();
            const std::int64_t end = last.offset + last.length;
            if (span.offset - end <= kJoinGap) {
                last.length = std::max(end, span.offset + span.length) - last.offset;
                continue;
            }
        }
        plan.ranges.push_back(span);
    }
    plan.bytes = plan.directory.length;
    for (const net::ByteRange& r : plan.ranges) plan.bytes += r.length;
    return plan;
}

std::optional<EntryManifest> DeltaDownload::FetchManifest(const std::string& remoteName,
                                                          std::int64_t serverSize,
                                                          const std::string& signature) {
    const std::string remote = remoteName + std::string(kEntriesSuffix);
    const std::string local = WorkPath() + StripPath(remote);
    Transfers& transfers = context_.transfers;
    std::string text, problem;
    if (!transfers.Ftp().FileSize(remote)) {
        DPrint("no " + remote + " on the server: the package is fetched whole");
        return std::nullopt;
    }
    const bool fetched = transfers.FetchWhole(local, remote, kMaxManifestBytes) &&
                         context_.signatures.FtpFileQuietly(local, remote) &&
                         ReadWholeFile(local, text);
    DeleteFileQuiet(local);
    if (!fetched) {
        DPrint(remote + " could not be fetched or was refused: the package is fetched whole");
        return std::nullopt;
    }
    auto manifest = ParseEntryManifest(text, problem);
    if (!manifest) {
        DPrint(remote + " is damaged (" + problem + "): the package is fetched whole");
        return std::nullopt;
    }
    if (static_cast<std::int64_t>(manifest->packageSize) != serverSize) {
        DPrint(remote + " describes a package of " + std::to_string(manifest->packageSize) +
               " bytes, the server's has " + std::to_string(serverSize) +
               ": the package is fetched whole");
        return std::nullopt;
    }
    // The package's own signature must sign what the manifest describes: an old
    // manifest and package, both signed once, cannot roll the tool back.
    if (!context_.signatures.HashSignedQuietly(remoteName, Binary(manifest->packageBlake2b),
                                               signature)) {
        DPrint("the package's signature does not vouch for " + remote +
               ": the package is fetched whole");
        return std::nullopt;
    }
    return manifest;
}

bool DeltaDownload::Fetch(const std::string& remoteName, std::int64_t serverSize,
                          const std::string& signature,
                          const std::function<bool(const ZipEntryInfo&)>& keep,
                          const std::string& target) {
    manifest_ = FetchManifest(remoteName, serverSize, signature);
    if (!manifest_) return false;
    const DeltaPlan plan = PlanDelta(*manifest_, keep);
    if (plan.bytes > serverSize / 2) {
        DPrint("the changed entries of " + remoteName + " take " + std::to_string(plan.bytes) +
               " of " + std::to_string(serverSize) + " bytes: the package is fetched whole");
        manifest_.reset();
        return false;
    }
    const std::string shown = "Fetching " + std::to_string(plan.files) + " changed files (" +
                              Megabytes(plan.bytes) + " of " + Megabytes(serverSize) + " MB)";
    context_.frontend.SetActivity(shown);
    DPrint(shown + " in " + std::to_string(plan.ranges.size() + 1) + " range(s) of " + remoteName);
    Transfers& transfers = context_.transfers;
    // The directory names every entry's place and CRC: it must be the manifest's
    // before a byte of an entry moves.
    std::string why;
    if (!transfers.FetchRanges(target, remoteName, serverSize, {plan.directory}, shown))
        why = "its directory could not be fetched: " + transfers.LastError("no reason given");
    else if (!DirectoryMatches(*manifest_, target))
        why = "its manifest was made for another package";
    else if (!plan.ranges.empty() &&
             !transfers.FetchRanges(target, remoteName, serverSize, plan.ranges, shown))
        why = "its changed entries could not be fetched: " + transfers.LastError("no reason given");
    if (why.empty()) {
        DPrint("fetched " + std::to_string(plan.bytes) + " bytes of " + remoteName);
        return true;
    }
    DPrint(remoteName + " is fetched whole: " + why);
    DeleteFileQuiet(target);
    manifest_.reset();
    return false;
}

ContentSinkFor DeltaDownload::ContentCheck() const {
    return manifest_ ? MatchManifest(*manifest_) : ContentSinkFor();
}

}  // namespace talvane::app
