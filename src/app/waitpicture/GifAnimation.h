#pragma once
// A GIF file as the wait picture's player takes it: the logical screen, the colour tables, and
// per frame its rectangle, pixels and the extensions that precede it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornel::app {

// 0xAARRGGBB, always opaque: transparency comes from the frame's transparent index.
using GifColor = std::uint32_t;

struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<GifColor> palette;    // local colour table; empty: the global one applies
    std::vector<std::uint8_t> pixels; // width x height colour indices, rows top to bottom
    bool hasControl = false;          // a graphic control extension precedes the frame
    int delay = 0;                    // hundredths of a second
    int disposal = 0;                 // 0 to 3 as GIF89a defines them
    int transparentIndex = -1;        // -1: every pixel is drawn
    std::optional<int> loopCount;     // from a NETSCAPE2.0 / ANIMEXTS1.0 block before the frame

    // False for trailing extensions with no image after them and for a damaged image.
    bool HasImage() const {
        return width > 0 && height > 0 && pixels.size() == static_cast<std::size_t>(width) * height;
    }
    // Disposal 1 (leave in place) stands for a frame without graphic control extension and for
    // the undefined values 4 to 7.
    int EffectiveDisposal() const { return hasControl && disposal >= 0 && disposal <= 3 ? disposal : 1; }
};

struct GifAnimation {
    int width = 0;
    int height = 0;
    std::vector<GifColor> globalPalette;
    int backgroundIndex = 0;
    std::vector<GifFrame> frames;

    // True when some frame restores to the background (2) or to the previous picture (3).
    bool UsesRestoringDisposal() const;
};

// Decodes a GIF file with giflib. Nothing when the file cannot be read, is not a GIF or holds no
// image. A frame whose image data is cut short is kept as a frame without image, and decoding
// stops there, so the frames before it still play.
std::optional<GifAnimation> DecodeGifFile(const std::string& path);

} // namespace vornel::app
