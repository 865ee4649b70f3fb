#pragma once
// Owner of one raw-deflate z_stream (no zlib header, no Adler-32), as zip
// entries carry them: inflating for the reader, deflating for the writer.
#include <zlib.h>

namespace talvane::zipfmt {

class RawZStream {
  public:
    enum class Mode { Inflate, Deflate };

    explicit RawZStream(Mode mode) : mode_(mode) {
        ok_ = mode_ == Mode::Inflate ? inflateInit2(&zs_, -MAX_WBITS) == Z_OK
                                     : deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                                                    -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~RawZStream() {
        if (!ok_) return;
        if (mode_ == Mode::Inflate)
            inflateEnd(&zs_);
        else
            deflateEnd(&zs_);
    }
    RawZStream(const RawZStream&) = delete;
    RawZStream& operator=(const RawZStream&) = delete;

    bool Ok() const { return ok_; }
    z_stream& Stream() { return zs_; }

  private:
    Mode mode_;
    z_stream zs_{};
    bool ok_ = false;
};

}  // namespace talvane::zipfmt
