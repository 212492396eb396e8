#pragma once
// Decoding of the background picture with libjpeg.

#include <QByteArray>
#include <QImage>

namespace vornel::app {

struct DecodedJpeg {
    QImage image;             // RGB, 8 bits per channel
    bool progressive = false; // the file was stored in several scans
};

// Decodes a whole JPEG file held in memory. Throws std::runtime_error with libjpeg's text when
// the data is not a JPEG it can decode; damaged data never ends the program.
DecodedJpeg DecodeJpeg(const QByteArray& bytes);

} // namespace vornel::app
