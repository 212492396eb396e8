#include "artwork/ImageFiles.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace vornel::artwork {

namespace {

void PutLittleEndian(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

[[noreturn]] void ThrowJpegError(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    throw std::runtime_error(text);
}

} // namespace

void WriteProgressiveJpeg(const QImage& image, const std::string& path, int quality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        throw std::runtime_error("cannot create " + path);

    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    // This tool is a plain C++ program built with exceptions everywhere it calls libjpeg from.
    errors.error_exit = &ThrowJpegError;
    jpeg_create_compress(&info);
    std::unique_ptr<jpeg_compress_struct, void (*)(jpeg_compress_struct*)> guard(&info,
                                                                                 &jpeg_destroy_compress);
    jpeg_stdio_dest(&info, file.get());
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
}

void WriteBmp24(const QImage& image, const std::string& path) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const int rowBytes = (rgb.width() * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(rowBytes * rgb.height());
    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    PutLittleEndian(out, 54 + pixelBytes, 4);
    PutLittleEndian(out, 0, 4);
    PutLittleEndian(out, 54, 4);
    PutLittleEndian(out, 40, 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(rgb.width()), 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(rgb.height()), 4); // bottom-up rows
    PutLittleEndian(out, 1, 2);
    PutLittleEndian(out, 24, 2);
    PutLittleEndian(out, 0, 4); // no compression
    PutLittleEndian(out, pixelBytes, 4);
    PutLittleEndian(out, 3780, 4); // 96 pixels per inch
    PutLittleEndian(out, 3780, 4);
    PutLittleEndian(out, 0, 4);
    PutLittleEndian(out, 0, 4);
    for (int y = rgb.height() - 1; y >= 0; --y) {
        const unsigned char* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            out.push_back(line[3 * x + 2]);
            out.push_back(line[3 * x + 1]);
            out.push_back(line[3 * x]);
        }
        out.resize(out.size() + static_cast<std::size_t>(rowBytes - rgb.width() * 3), 0);
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

} // namespace vornel::artwork
