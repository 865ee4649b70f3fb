#include "common/atomic_file.h"

#include <cerrno>

#include "platform/platform.h"

namespace talvane {

Result<void> AtomicFile::Check(int code, const char* what) const {
    if (code == 0) return {};
    return Error{code, std::string(what) + " " + target_ + ": " + platform::ErrorText(code),
                 Cause::LocalFiles};
}

Result<void> AtomicFile::Create(const std::string& target, unsigned mode) {
    Discard();
    target_ = target;
    const int code = temp_.Create(target, mode);
    open_ = code == 0;
    return Check(code, "cannot create a part beside");
}

Result<void> AtomicFile::Write(const void* data, std::size_t size) {
    return Check(open_ ? temp_.Write(data, size) : EBADF, "cannot write");
}

Result<void> AtomicFile::Commit() {
    const int code = open_ ? temp_.Commit(true) : EBADF;
    open_ = false;
    return Check(code, "cannot put in place");
}

void AtomicFile::Discard() {
    temp_.Discard();
    open_ = false;
}

Result<void> WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode) {
    AtomicFile file;
    if (auto r = file.Create(path, mode); !r) return r;
    if (auto r = file.Write(data.data(), data.size()); !r) return r;
    return file.Commit();
}

}  // namespace talvane
