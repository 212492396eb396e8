#include "TestGifs.h"

#include "app/waitpicture/GifWriter.h"

#include <QFile>
#include <gtest/gtest.h>

namespace vornel::app::test {

GifFrame PlainFrame(int left, int top, int width, int height, std::uint8_t color) {
    GifFrame frame;
    frame.left = left;
    frame.top = top;
    frame.width = width;
    frame.height = height;
    frame.pixels.assign(static_cast<std::size_t>(width) * height, color);
    return frame;
}

GifFrame Frame(int left, int top, int width, int height, std::uint8_t color, int delay, int disposal,
               std::initializer_list<std::pair<int, int>> clear) {
    GifFrame frame = PlainFrame(left, top, width, height, color);
    frame.hasControl = true;
    frame.delay = delay;
    frame.disposal = disposal;
    frame.transparentIndex = kClear;
    for (auto [x, y] : clear)
        frame.pixels[static_cast<std::size_t>(y) * width + x] = kClear;
    return frame;
}

GifAnimation Animation(int width, int height, std::vector<GifFrame> frames) {
    GifAnimation animation;
    animation.width = width;
    animation.height = height;
    animation.globalPalette.assign(std::begin(kPalette), std::end(kPalette));
    animation.frames = std::move(frames);
    return animation;
}

QString WriteGif(const QTemporaryDir& folder, const QString& name, const GifAnimation& animation) {
    const QString path = folder.filePath(name);
    EXPECT_TRUE(WriteGifFile(path.toStdString(), animation)) << path.toStdString();
    return path;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace vornel::app::test
