#pragma once
// File and folder names the program and its servers agree on, in one place.
// On POSIX executables carry no ".exe".
namespace talvane::names {

#ifdef _WIN32
inline constexpr const char* kExeSuffix = ".exe";
#else
inline constexpr const char* kExeSuffix = "";
#endif

inline constexpr const char* kTekmoExe = "Tekmo";  // + kExeSuffix
inline constexpr const char* kSevenZipExe = "7za";
inline constexpr const char* kLauncherExe = "Talvane";
inline constexpr const char* kOldSuffix = "_old";
inline constexpr const char* kSettingsSection = "TekmoCloud";
inline constexpr const char* kLogoFile = "Talvane.bmp";
inline constexpr const char* kTekmoUpdateZip = "tekmoUpdate.zip";
inline constexpr const char* kPreviousZip = "Tekmo.zip";
inline constexpr const char* kUpdatesZip = "VelmoraUpdates.zip";
inline constexpr const char* kUpdatesIni = "VelmoraUpdates.ini";
inline constexpr const char* kUpdatePackage = "Talvane.zip";
// Where an update package is unpacked before anything of it replaces the program.
inline constexpr const char* kUpdateStaging = ".update-staging";
inline constexpr const char* kSevenZipZip = "7za.zip";
inline constexpr const char* kSevenZipFolder = "7z";
inline constexpr const char* kSyncTemp = "SyncTemp";
inline constexpr const char* kConfigArchive = "tekmo_Config.7z";
inline constexpr const char* kDefsArchive = "tekmo_Defs.7z";
// A file's signature lies beside it under its name and this suffix.
inline constexpr const char* kSignatureSuffix = ".minisig";
inline constexpr const char* kInnerConfigZip = "Tekmo_Config.zip";
inline constexpr const char* kBuiltInUser = "NimbaraMember";
inline constexpr const char* kBuiltInPassword = "Tovex%hn52";

}  // namespace talvane::names
