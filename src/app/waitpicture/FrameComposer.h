#pragma once
// Composes the wait picture's frames over the window background, following the GIF89a
// disposal methods, with transparent pixels leaving what lies beneath.

#include "app/waitpicture/GifAnimation.h"

#include <QImage>

namespace vornel::app {

// The frame's rectangle as an ARGB image in its own colours; transparent pixels have alpha 0.
QImage PrepareFrameImage(const GifAnimation& animation, const GifFrame& frame);

class FrameComposer {
  public:
    // `background`: the window pixels under the picture, scaled to nothing; it must have the
    // logical screen's size. The frame bitmap starts as a copy of it.
    FrameComposer(const GifAnimation& animation, const QImage& background);

    // Paints a frame whose image PrepareFrameImage gave.
    void Paint(const GifFrame& frame, const QImage& prepared);

    const QImage& FrameBitmap() const { return frame_; }

  private:
    QImage background_;
    QImage frame_;
    QImage backup_; // the composition without a frame that restores the previous picture
    QImage second_;
    bool restoring_;
    int previousDisposal_ = 1;
};

} // namespace vornel::app
