#pragma once
// The pictures of the main window, drawn from code: the background and the button faces. The
// layout positions they are drawn for are the main window's.

#include <QImage>
#include <QRect>
#include <QString>

namespace vornel::artwork {

inline constexpr QRect kWebPanelArea{38, 112, 723, 338};
inline constexpr QRect kDriveListArea{189, 480, 425, 20};
inline constexpr QRect kWideButtonArea{176, 508, 135, 30};
inline constexpr QRect kCloseButtonArea{767, 4, 29, 29};
inline constexpr QRect kMinimiseButtonArea{737, 4, 28, 29};

// The 800 x 600 background; `version` is printed beside the slogan.
QImage DrawBackground(const QString& version);

// The 135 x 30 blue glossy bar (lighter cyan when hot), drawn over `under`.
QImage DrawWideButton(const QImage& under, bool hot);

enum class DiscGlyph { Cross, Bar };
// A round button: white cross on an orange disc or white bar on a green disc, drawn over `under`.
QImage DrawDiscButton(const QImage& under, DiscGlyph glyph, bool hot);

// The product's logo, square, for the title band and the application icon.
QImage DrawLogo(int size);

// Nudges every pixel of exactly `colour` by one step of blue, so the picture never holds it.
void AvoidColour(QImage& image, QRgb colour);

} // namespace vornel::artwork
