#pragma once
// Writers for the two file formats the artwork is stored in.

#include <QImage>
#include <string>

namespace vornel::artwork {

// A progressive JPEG (libjpeg's simple progression). Throws std::runtime_error on failure.
void WriteProgressiveJpeg(const QImage& image, const std::string& path, int quality);

// An uncompressed 24 bits per pixel BMP. Throws std::runtime_error on failure.
void WriteBmp24(const QImage& image, const std::string& path);

} // namespace vornel::artwork
