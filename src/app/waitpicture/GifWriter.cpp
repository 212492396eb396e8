#include "app/waitpicture/GifWriter.h"

#include <gif_lib.h>

#include <cstdlib>
#include <cstring>

namespace vornel::app {
namespace {

ColorMapObject* MakeColorMap(const std::vector<GifColor>& palette) {
    if (palette.empty() || palette.size() > 256)
        return nullptr;
    int count = 2;
    while (count < static_cast<int>(palette.size()))
        count *= 2;
    ColorMapObject* map = GifMakeMapObject(count, nullptr);
    if (!map)
        return nullptr;
    for (int i = 0; i < count; ++i) {
        const GifColor color = i < static_cast<int>(palette.size()) ? palette[i] : 0;
        map->Colors[i] = GifColorType{static_cast<GifByteType>(color >> 16),
                                      static_cast<GifByteType>(color >> 8), static_cast<GifByteType>(color)};
    }
    return map;
}

bool AddExtensions(const GifFrame& frame, int* count, ExtensionBlock** blocks) {
    if (frame.loopCount) {
        const GifByteType loop[] = {1, static_cast<GifByteType>(*frame.loopCount & 0xff),
                                    static_cast<GifByteType>(*frame.loopCount >> 8)};
        if (GifAddExtensionBlock(count, blocks, APPLICATION_EXT_FUNC_CODE, 11,
                                 reinterpret_cast<unsigned char*>(const_cast<char*>("NETSCAPE2.0"))) ==
                GIF_ERROR ||
            GifAddExtensionBlock(count, blocks, CONTINUE_EXT_FUNC_CODE, sizeof loop,
                                 const_cast<GifByteType*>(loop)) == GIF_ERROR)
            return false;
    }
    if (frame.hasControl) {
        GraphicsControlBlock control{frame.disposal, false, frame.delay, frame.transparentIndex};
        GifByteType bytes[4];
        const auto length = EGifGCBToExtension(&control, bytes);
        if (GifAddExtensionBlock(count, blocks, GRAPHICS_EXT_FUNC_CODE, static_cast<unsigned>(length),
                                 bytes) == GIF_ERROR)
            return false;
    }
    return true;
}

bool AddImage(GifFileType* gif, const GifFrame& frame) {
    SavedImage* image = GifMakeSavedImage(gif, nullptr);
    if (!image)
        return false;
    image->ImageDesc =
        GifImageDesc{frame.left,   frame.top, frame.width,
                     frame.height, false,     frame.palette.empty() ? nullptr : MakeColorMap(frame.palette)};
    if (!frame.palette.empty() && !image->ImageDesc.ColorMap)
        return false;
    // giflib frees the raster with the file.
    image->RasterBits = static_cast<GifByteType*>(std::malloc(frame.pixels.size()));
    if (!image->RasterBits)
        return false;
    std::memcpy(image->RasterBits, frame.pixels.data(), frame.pixels.size());
    return AddExtensions(frame, &image->ExtensionBlockCount, &image->ExtensionBlocks);
}

} // namespace

bool WriteGifFile(const std::string& path, const GifAnimation& animation) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        return false;
    gif->SWidth = animation.width;
    gif->SHeight = animation.height;
    gif->SColorResolution = 8;
    gif->SBackGroundColor = animation.backgroundIndex;
    gif->SColorMap = animation.globalPalette.empty() ? nullptr : MakeColorMap(animation.globalPalette);
    bool built = animation.globalPalette.empty() || gif->SColorMap;
    for (const GifFrame& frame : animation.frames) {
        if (!built)
            break;
        built = frame.HasImage() ? AddImage(gif, frame)
                                 : AddExtensions(frame, &gif->ExtensionBlockCount, &gif->ExtensionBlocks);
    }
    // EGifSpew closes the file when it succeeds; otherwise it is closed here.
    if (built && EGifSpew(gif) == GIF_OK)
        return true;
    EGifCloseFile(gif, &error);
    return false;
}

} // namespace vornel::app
