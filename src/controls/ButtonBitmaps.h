#pragma once
// The picture set of a bitmap button: one picture per face, and the colour whose pixels are
// left out when a face is drawn.

#include <QColor>
#include <QImage>
#include <array>
#include <functional>

namespace vornel::controls {

enum class Face { Up, UpAndFocused, Disabled, Down, StayDown, Hot };

// clOlive: the colour that stays transparent unless the set is told otherwise.
inline const QColor kClOlive{128, 128, 0};

// The picture with every pixel of exactly `hidden` made fully transparent.
QImage WithoutColour(const QImage& picture, const QColor& hidden);

class TButtonBitmaps {
  public:
    // A face is present once it holds an image; a face never given one is missing.
    bool Has(Face face) const { return !Get(face).isNull(); }
    const QImage& Get(Face face) const { return faces_[static_cast<std::size_t>(face)]; }
    // Copies the picture in (an empty image makes the face missing again) and raises OnChange.
    void Set(Face face, const QImage& picture);

    QColor TransparentColor() const { return transparentColor_; }
    // Raises OnChange only when the colour really changes.
    void SetTransparentColor(const QColor& colour);

    std::function<void()> OnChange;

  private:
    void Changed();

    std::array<QImage, 6> faces_;
    QColor transparentColor_ = kClOlive;
};

} // namespace vornel::controls
