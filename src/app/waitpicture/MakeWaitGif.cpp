// Makes the wait picture data/Res/wait.gif: three dots to the left of the wait text, swelling
// and brightening one after another, on a transparent ground. Run by hand; its output is kept
// in the source tree:  make_wait_gif data/Res/wait.gif

#include "app/waitpicture/GifWriter.h"

#include <cstdio>

namespace {

using vornel::app::GifAnimation;
using vornel::app::GifFrame;

constexpr int kWidth = 25;
constexpr int kHeight = 17;
constexpr int kSteps = 6;
constexpr int kDots = 3;
constexpr int kDelayHundredths = 10;
constexpr int kRestoreBackground = 2;

enum Index : std::uint8_t { kTransparent, kWhite, kLightBlue, kBlue };

struct DotLook {
    double radius;
    std::uint8_t color;
};

// The look of a dot some steps after its turn came: large and white, then fading to rest.
DotLook LookAfter(int stepsSinceTurn) {
    switch (stepsSinceTurn) {
    case 0:
        return {3.3, kWhite};
    case 1:
        return {2.8, kWhite};
    case 2:
        return {2.4, kLightBlue};
    default:
        return {1.9, kBlue};
    }
}

GifFrame MakeFrame(int step) {
    GifFrame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.pixels.assign(kWidth * kHeight, kTransparent);
    frame.hasControl = true;
    frame.delay = kDelayHundredths;
    frame.disposal = kRestoreBackground;
    frame.transparentIndex = kTransparent;
    for (int dot = 0; dot < kDots; ++dot) {
        const DotLook look = LookAfter(((step - dot * 2) % kSteps + kSteps) % kSteps);
        const double centerX = 4.5 + dot * 8;
        const double centerY = kHeight / 2.0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double dx = x + 0.5 - centerX;
                const double dy = y + 0.5 - centerY;
                if (dx * dx + dy * dy <= look.radius * look.radius)
                    frame.pixels[y * kWidth + x] = look.color;
            }
    }
    return frame;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.gif\n", argv[0]);
        return 2;
    }
    GifAnimation animation;
    animation.width = kWidth;
    animation.height = kHeight;
    // The transparent entry carries the lower band's blue, in case a viewer ignores transparency.
    animation.globalPalette = {0xff1d4f8c, 0xffffffff, 0xffbfe3ff, 0xff6fb6f0};
    for (int step = 0; step < kSteps; ++step)
        animation.frames.push_back(MakeFrame(step));
    animation.frames.front().loopCount = 0; // without end
    if (!vornel::app::WriteGifFile(argv[1], animation)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
