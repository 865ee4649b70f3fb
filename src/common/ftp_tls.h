#pragma once
// Whether FTP sign-ins and transfers go over TLS (explicit, "AUTH TLS").
namespace talvane {

enum class FtpTls {
    Off,       // plain FTP
    Try,       // TLS when the server takes AUTH TLS, plain otherwise
    Required,  // no user name or password to a server that does not take AUTH TLS
};

}  // namespace talvane
