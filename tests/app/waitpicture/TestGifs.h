#pragma once
// Small GIFs for the wait picture's tests, described frame by frame and written with giflib.

#include "app/waitpicture/GifAnimation.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <initializer_list>

namespace vornel::app::test {

// Palette indices of the test GIFs.
enum : std::uint8_t { kClear, kRed, kGreen, kBlue, kWhite, kBlack, kYellow, kCyan };
constexpr GifColor kPalette[] = {0xff000000, 0xffff0000, 0xff00ff00, 0xff0000ff,
                                 0xffffffff, 0xff101010, 0xffffff00, 0xff00ffff};

// A frame of one colour over its rectangle, with a graphic control extension whose transparent
// index is kClear. `clear` lists pixels (frame coordinates) left transparent.
GifFrame Frame(int left, int top, int width, int height, std::uint8_t color, int delay, int disposal,
               std::initializer_list<std::pair<int, int>> clear = {});

// A frame without graphic control extension.
GifFrame PlainFrame(int left, int top, int width, int height, std::uint8_t color);

GifAnimation Animation(int width, int height, std::vector<GifFrame> frames);

// Writes the animation with giflib into `folder` and returns the path.
QString WriteGif(const QTemporaryDir& folder, const QString& name, const GifAnimation& animation);

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

} // namespace vornel::app::test
