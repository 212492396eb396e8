#include "app/JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <jpeglib.h>

namespace vornel::app {

namespace {

// libjpeg's own error exit ends the process; this one jumps back to the decoder instead.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf back;
    char text[JMSG_LENGTH_MAX];
};

extern "C" void JumpBackOnError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->text);
    std::longjmp(manager->back, 1);
}

extern "C" void IgnoreWarning(j_common_ptr, int) {}

// Plain C-style decoding: nothing with a destructor lives between setjmp and longjmp. Returns
// false with `manager.text` filled on failure.
bool DecodeInto(const QByteArray& bytes, ErrorManager& manager, QImage& image, bool& progressive) {
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = &JumpBackOnError;
    manager.base.emit_message = &IgnoreWarning;
    if (setjmp(manager.back)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    progressive = jpeg_has_multiple_scans(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

DecodedJpeg DecodeJpeg(const QByteArray& bytes) {
    if (bytes.isEmpty())
        throw std::runtime_error("Empty JPEG data");
    ErrorManager manager{};
    DecodedJpeg decoded;
    if (!DecodeInto(bytes, manager, decoded.image, decoded.progressive))
        throw std::runtime_error(manager.text);
    return decoded;
}

} // namespace vornel::app
