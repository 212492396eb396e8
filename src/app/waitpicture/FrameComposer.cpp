#include "app/waitpicture/FrameComposer.h"

#include <QPainter>

namespace vornel::app {
namespace {

constexpr QRgb kNoColorTable = 0xff000000u;

// Copies the opaque pixels of `prepared` onto `target` at the frame's place, clipped to it.
void DrawFrame(QImage& target, const GifFrame& frame, const QImage& prepared) {
    const QRect area = QRect(frame.left, frame.top, prepared.width(), prepared.height()) & target.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(prepared.constScanLine(y - frame.top));
        auto* destination = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = source[x - frame.left];
            if (qAlpha(pixel) != 0)
                destination[x] = pixel;
        }
    }
}

void RestoreArea(QImage& target, const QImage& from, const GifFrame& frame) {
    const QRect area = QRect(frame.left, frame.top, frame.width, frame.height) & target.rect();
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area.topLeft(), from, area);
}

} // namespace

QImage PrepareFrameImage(const GifAnimation& animation, const GifFrame& frame) {
    if (!frame.HasImage())
        return {};
    const auto& palette = frame.palette.empty() ? animation.globalPalette : frame.palette;
    QImage image(frame.width, frame.height, QImage::Format_ARGB32);
    for (int y = 0; y < frame.height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::uint8_t* indices = frame.pixels.data() + static_cast<std::size_t>(y) * frame.width;
        for (int x = 0; x < frame.width; ++x) {
            const int index = indices[x];
            if (index == frame.transparentIndex)
                row[x] = 0;
            else
                row[x] = index < static_cast<int>(palette.size()) ? palette[index] : kNoColorTable;
        }
    }
    return image;
}

FrameComposer::FrameComposer(const GifAnimation& animation, const QImage& background)
    : background_(background.convertToFormat(QImage::Format_ARGB32)), frame_(background_.copy()),
      restoring_(animation.UsesRestoringDisposal()) {
    if (restoring_)
        backup_ = background_.copy();
}

void FrameComposer::Paint(const GifFrame& frame, const QImage& prepared) {
    const int disposal = frame.EffectiveDisposal();
    if (!restoring_) {
        DrawFrame(frame_, frame, prepared);
    } else if (disposal == 3) {
        // The backup keeps the picture before this frame, so the next one is composed without it.
        if (previousDisposal_ == 2 || previousDisposal_ == 3) {
            second_ = backup_.copy();
            DrawFrame(second_, frame, prepared);
            frame_ = second_.copy();
        } else {
            DrawFrame(frame_, frame, prepared);
        }
    } else {
        DrawFrame(backup_, frame, prepared);
        frame_ = backup_.copy();
        if (disposal == 2)
            RestoreArea(backup_, background_, frame);
    }
    previousDisposal_ = disposal;
}

} // namespace vornel::app
