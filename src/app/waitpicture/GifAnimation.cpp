#include "app/waitpicture/GifAnimation.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vornel::app {
namespace {

// A larger frame is refused rather than allocated: the wait picture is small by nature.
constexpr std::size_t kMostPixelsPerFrame = 16u * 1024u * 1024u;

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

std::vector<GifColor> PaletteOf(const ColorMapObject* map) {
    std::vector<GifColor> palette;
    if (!map || !map->Colors)
        return palette;
    for (int i = 0; i < map->ColorCount; ++i) {
        const GifColorType& c = map->Colors[i];
        palette.push_back(0xff000000u | (GifColor(c.Red) << 16) | (GifColor(c.Green) << 8) | c.Blue);
    }
    return palette;
}

bool IsLoopBlockName(const GifByteType* block) {
    return block && block[0] == 11 &&
           (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// Reads one extension and its sub-blocks into `frame`. False on a damaged file.
bool ReadExtension(GifFileType* gif, GifFrame& frame) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
        return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
            frame.hasControl = true;
            frame.delay = control.DelayTime;
            frame.disposal = control.DisposalMode;
            frame.transparentIndex = control.TransparentColor;
        }
    }
    const bool loopBlock = code == APPLICATION_EXT_FUNC_CODE && IsLoopBlockName(block);
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
            return false;
        // The loop sub-block: length 3, id 1, then the count in little-endian order.
        if (loopBlock && block && block[0] >= 3 && block[1] == 1 && !frame.loopCount)
            frame.loopCount = block[2] | (block[3] << 8);
    }
    return true;
}

// Reads the image after a descriptor. False when the data is cut short or damaged.
bool ReadImage(GifFileType* gif, GifFrame& frame) {
    if (DGifGetImageDesc(gif) == GIF_ERROR)
        return false;
    const GifImageDesc& desc = gif->Image;
    frame.left = desc.Left;
    frame.top = desc.Top;
    frame.width = desc.Width;
    frame.height = desc.Height;
    frame.palette = PaletteOf(desc.ColorMap);
    const std::size_t count = static_cast<std::size_t>(std::max(0, desc.Width)) * std::max(0, desc.Height);
    if (count == 0 || count > kMostPixelsPerFrame)
        return false;
    std::vector<std::uint8_t> pixels(count);
    auto readRow = [&](int row) {
        return DGifGetLine(gif, pixels.data() + static_cast<std::size_t>(row) * desc.Width, desc.Width) ==
               GIF_OK;
    };
    if (desc.Interlace) {
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int row = kStart[pass]; row < desc.Height; row += kStep[pass])
                if (!readRow(row))
                    return false;
    } else {
        for (int row = 0; row < desc.Height; ++row)
            if (!readRow(row))
                return false;
    }
    frame.pixels = std::move(pixels);
    return true;
}

bool HasExtensions(const GifFrame& frame) {
    return frame.hasControl || frame.loopCount.has_value();
}

} // namespace

bool GifAnimation::UsesRestoringDisposal() const {
    return std::any_of(frames.begin(), frames.end(), [](const GifFrame& frame) {
        const int disposal = frame.EffectiveDisposal();
        return disposal == 2 || disposal == 3;
    });
}

std::optional<GifAnimation> DecodeGifFile(const std::string& path) {
    int error = 0;
    GifHandle gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif || gif->SWidth <= 0 || gif->SHeight <= 0)
        return std::nullopt;

    GifAnimation animation;
    animation.width = gif->SWidth;
    animation.height = gif->SHeight;
    animation.globalPalette = PaletteOf(gif->SColorMap);
    animation.backgroundIndex = gif->SBackGroundColor;

    GifFrame next;
    bool damaged = false;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    while (!damaged && record != TERMINATE_RECORD_TYPE) {
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
            break;
        if (record == IMAGE_DESC_RECORD_TYPE) {
            damaged = !ReadImage(gif.get(), next);
            if (damaged)
                next.pixels.clear();
            animation.frames.push_back(std::move(next));
            next = GifFrame{};
        } else if (record == EXTENSION_RECORD_TYPE) {
            damaged = !ReadExtension(gif.get(), next);
        }
    }
    // Extensions after the last image make a frame without image, which ends a pass.
    if (HasExtensions(next))
        animation.frames.push_back(std::move(next));

    const bool anyImage = std::any_of(animation.frames.begin(), animation.frames.end(),
                                      [](const GifFrame& frame) { return frame.HasImage(); });
    if (!anyImage)
        return std::nullopt;
    return animation;
}

} // namespace vornel::app
