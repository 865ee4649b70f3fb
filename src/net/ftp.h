#pragma once
// FTP client on libcurl with the interface the workflows use:
// Booleans and sentinel sizes, one readable last-error text.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace talvane {

struct cDirItem {
    bool ReadOnly = false;
    bool Hidden = false;
    bool System = false;
    bool Directory = false;
    bool Archive = false;
    bool Normal = false;
    bool Temporary = false;
    bool Compressed = false;
    bool Offline = false;
    double CreationTime = 0;  // OLE Automation date, local time
    double LastAccessTime = 0;
    double LastWriteTime = 0;
    std::int32_t FileSize = 0;  // low 32 bits
    std::string Filename;
};

class cDirList {
  public:
    // Appends under the key sFilename (unique, case-insensitive). Returns nullptr
    // for a duplicate key.
    cDirItem* Add(std::uint32_t lAttrib, double dtCreationTime, double dtLastAccessTime,
                  double dtLastWriteTime, std::int32_t lFileSize, const std::string& sFilename);
    const cDirItem* Item(long index) const;  // 1-based
    const cDirItem* Item(const std::string& key) const;
    long Count() const { return static_cast<long>(items_.size()); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<cDirItem> items_;
    std::unordered_map<std::string, std::size_t> index_;  // lower-case name -> position
};

class cFTP {
  public:
    // Raised after every 255-byte step of FTPDownloadFile / FTPUploadFile.
    std::function<void(std::int32_t lCurrentBytes, std::int32_t lTotalBytes)> FileTransferProgress;

    cFTP();
    ~cFTP();
    cFTP(const cFTP&) = delete;
    cFTP& operator=(const cFTP&) = delete;

    const cDirList& Directory();  // created empty on first read
    std::string GetLastErrorMessage() const;

    // sServer: host or host:port.
    bool OpenConnection(const std::string& sServer, const std::string& sUser,
                        const std::string& sPassword);
    void CloseConnection();
    bool SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote);
    bool RenameFTPFile(const std::string& sExisting, const std::string& sNewName);
    bool CreateFTPDirectory(const std::string& sDirectory);
    bool RemoveFTPDirectory(const std::string& sDirectory);
    bool DeleteFTPFile(const std::string& sRemote);
    bool FTPUploadFile(const std::string& sLocal, const std::string& sRemote);
    bool FTPDownloadFile(const std::string& sLocal, const std::string& sRemote);
    bool SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote);
    std::string GetFTPDirectory();
    bool SetFTPDirectory(const std::string& sDir);
    std::int32_t GetFTPFileSize(const std::string& sFile);  // -1 not found, -2 error
    // nullptr when nothing was listed (empty folder or failure).
    const cDirList* GetDirectoryListing(const std::string& sFilter);
    void SetTransferASCII();
    void SetTransferBinary();
    void SetModeActive();
    void SetModePassive();

    bool Connected() const;

    // Time-outs (seconds); idle: waiting for the server's reply to a command.
    long connectTimeoutSeconds = 20;
    long idleTimeoutSeconds = 30;
    // A transfer that moves fewer than lowSpeedBytes in lowSpeedSeconds is
    // abandoned as a timed-out connection (a server that drips holds no one).
    long lowSpeedBytes = 1024;
    long lowSpeedSeconds = 60;
    // A listing is cut at whichever comes first; a log line says so.
    std::size_t maxListingBytes = 8u << 20;
    std::size_t maxListingEntries = 50000;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace talvane
