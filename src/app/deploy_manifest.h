#pragma once
// What the last complete deploy put into the tool tree, so that the next run can
// tell whether the package on the server is still the one deployed and whether
// the tree still holds what it unpacked. Written atomically into the tool tree;
// a missing or damaged record only means "download as usual".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvane::app {

struct DeployedFile {
    std::string path;  // below the tool tree, '/' separators
    unsigned long long size = 0;
    std::uint32_t crc = 0;
    long long modified = 0;  // as the file system gave it after the write
};

struct DeployManifest {
    std::string package;  // the name on the server
    long long serverSize = -1;
    std::string serverTime;  // the server's MDTM answer, as sent
    std::string signature;   // the package's signature file, with a public key
    std::vector<DeployedFile> files;
};

std::string ManifestPath(const std::string& toolTree);
std::optional<DeployManifest> LoadManifest(const std::string& toolTree);
bool SaveManifest(const std::string& toolTree, const DeployManifest& manifest);
void ForgetManifest(const std::string& toolTree);

// Whether the server still offers what the manifest records. An unknown size or
// time never matches.
bool SamePackageOnServer(const DeployManifest& manifest, const DeployManifest& server);
// The recorded files whose size or time in the tree differ (or that are gone).
std::vector<std::string> ChangedFiles(const std::string& toolTree, const DeployManifest& manifest);

}  // namespace talvane::app
