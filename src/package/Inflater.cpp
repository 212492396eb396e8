#include "package/Inflater.h"

#include "package/u_Package.h"

#include <cerrno>
#include <unistd.h>

namespace vornel::package {

Inflater::Inflater(int source, std::string entry, std::string packageFile)
    : source_(source), entry_(std::move(entry)), packageFile_(std::move(packageFile)),
      input_(kInputBlockSize) {
    if (const int result = ::inflateInit(&stream_); result != Z_OK)
        throw EDecompressionError(entry_, stream_.msg ? stream_.msg : ::zError(result));
}

void Inflater::Fail(int result) const {
    throw ECompressionError(entry_, stream_.msg ? stream_.msg : ::zError(result), packageFile_);
}

Inflater::~Inflater() {
    ::inflateEnd(&stream_);
}

bool Inflater::Refill() {
    for (;;) {
        ssize_t n = ::read(source_, input_.data(), input_.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A read error ends the input like the end of the file: the copy comes out short
            // and the caller sees the length differ.
            inputEnded_ = true;
            return false;
        }
        stream_.next_in = input_.data();
        stream_.avail_in = static_cast<uInt>(n);
        return true;
    }
}

std::size_t Inflater::Produce(unsigned char* out, std::size_t size) {
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(size);
    while (stream_.avail_out > 0 && !streamEnded_) {
        if (stream_.avail_in == 0 && (inputEnded_ || !Refill()))
            break;
        const int rc = ::inflate(&stream_, Z_NO_FLUSH);
        if (rc == Z_STREAM_END)
            streamEnded_ = true;
        else if (rc == Z_BUF_ERROR && stream_.avail_in > 0)
            break; // no progress is possible with the input at hand
        else if (rc != Z_OK && rc != Z_BUF_ERROR)
            Fail(rc);
    }
    return size - stream_.avail_out;
}

bool Inflater::EndsHere() {
    unsigned char surplus = 0;
    return Produce(&surplus, 1) == 0 && streamEnded_;
}

} // namespace vornel::package
