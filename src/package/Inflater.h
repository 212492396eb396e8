#pragma once
// A zlib-format inflater that reads its input from a descriptor in blocks as it needs it.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>
#include <zlib.h>

namespace vornel::package {

class Inflater {
  public:
    // `entry` and `packageFile` name the data in errors. Throws EDecompressionError when zlib
    // cannot start.
    Inflater(int source, std::string entry, std::string packageFile);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Fills up to `size` bytes and returns how many it produced: fewer only at the end of the
    // stream or of the input. Throws ECompressionError on damaged data.
    std::size_t Produce(unsigned char* out, std::size_t size);

    // True when the stream ends here, its check value included: no more output follows and
    // its input did not run out first.
    bool EndsHere();

  private:
    bool Refill();

    [[noreturn]] void Fail(int result) const;

    int source_;
    std::string entry_;
    std::string packageFile_;
    z_stream stream_{};
    std::vector<unsigned char> input_;
    bool inputEnded_ = false;
    bool streamEnded_ = false;
};

} // namespace vornel::package
