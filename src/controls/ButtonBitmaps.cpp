#include "controls/ButtonBitmaps.h"

namespace vornel::controls {

void TButtonBitmaps::Set(Face face, const QImage& picture) {
    faces_[static_cast<std::size_t>(face)] = picture.copy();
    Changed();
}

void TButtonBitmaps::SetTransparentColor(const QColor& colour) {
    if (colour.rgb() == transparentColor_.rgb())
        return;
    transparentColor_ = colour;
    Changed();
}

QImage WithoutColour(const QImage& source, const QColor& colour) {
    QImage picture = source.convertToFormat(QImage::Format_ARGB32);
    const QRgb hidden = colour.rgb() & RGB_MASK;
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if ((line[x] & RGB_MASK) == hidden)
                line[x] = 0;
    }
    return picture;
}

void TButtonBitmaps::Changed() {
    if (OnChange)
        OnChange();
}

} // namespace vornel::controls
