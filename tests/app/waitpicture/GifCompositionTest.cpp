#include "app/waitpicture/FrameComposer.h"
#include "app/waitpicture/FrameTiming.h"
#include "app/waitpicture/GifAnimation.h"

#include "TestGifs.h"

#include <gtest/gtest.h>

namespace vornel::app {
namespace {

using namespace test;

constexpr QRgb kRedPixel = kPalette[kRed];
constexpr QRgb kGreenPixel = kPalette[kGreen];
constexpr QRgb kBluePixel = kPalette[kBlue];
constexpr QRgb kWhitePixel = kPalette[kWhite];

// A window background with a different colour at every pixel.
QImage Background(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(40 * x + 10, 60 * y + 20, 99));
    return image;
}

QRgb Under(int x, int y) {
    return qRgb(40 * x + 10, 60 * y + 20, 99);
}

class GifComposition : public ::testing::Test {
  protected:
    // Writes the frames as a GIF of 4 x 2 pixels, reads it back, and plays one pass of it over
    // the background, keeping the frame bitmap after each painted frame.
    std::vector<QImage> PlayWritten(std::vector<GifFrame> frames) {
        const QString path = WriteGif(folder, QStringLiteral("t.gif"), Animation(4, 2, std::move(frames)));
        const auto decoded = DecodeGifFile(path.toStdString());
        EXPECT_TRUE(decoded.has_value());
        if (!decoded)
            return {};
        animation = *decoded;
        return PlayDecoded();
    }

    std::vector<QImage> PlayDecoded() {
        FrameComposer composer(animation, Background(animation.width, animation.height));
        PassSchedule schedule(animation);
        std::vector<QImage> shown;
        while (const auto step = schedule.Next()) {
            const GifFrame& frame = animation.frames[step->frame];
            composer.Paint(frame, PrepareFrameImage(animation, frame));
            shown.push_back(composer.FrameBitmap());
        }
        return shown;
    }

    QTemporaryDir folder;
    GifAnimation animation;
};

TEST_F(GifComposition, FramesThatStayInPlaceDrawOverEachOtherWithTransparency) {
    for (int disposal : {0, 1}) {
        const auto shown =
            PlayWritten({Frame(0, 0, 4, 2, kRed, 5, disposal, {{0, 0}, {3, 1}}),
                         Frame(2, 0, 2, 2, kGreen, 5, disposal, {{1, 1}}), PlainFrame(1, 1, 1, 1, kBlue)});
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_EQ(shown[0].pixel(0, 0), Under(0, 0)) << disposal;
        EXPECT_EQ(shown[0].pixel(1, 0), kRedPixel);
        EXPECT_EQ(shown[0].pixel(3, 1), Under(3, 1));
        EXPECT_EQ(shown[1].pixel(2, 0), kGreenPixel);
        EXPECT_EQ(shown[1].pixel(3, 1), Under(3, 1)); // transparent over transparent
        EXPECT_EQ(shown[1].pixel(1, 0), kRedPixel);
        EXPECT_EQ(shown[2].pixel(1, 1), kBluePixel);
        EXPECT_EQ(shown[2].pixel(2, 0), kGreenPixel);
        EXPECT_EQ(shown[2].pixel(0, 0), Under(0, 0));
    }
}

TEST_F(GifComposition, RestoreToBackgroundBringsBackTheWindowPixels) {
    const auto shown = PlayWritten({Frame(0, 0, 4, 2, kRed, 5, 1),             // stays
                                    Frame(1, 0, 2, 2, kGreen, 5, 2, {{0, 1}}), // then cleared
                                    Frame(0, 0, 1, 1, kBlue, 5, 1)});
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].pixel(1, 0), kGreenPixel);
    EXPECT_EQ(shown[1].pixel(1, 1), kRedPixel); // its transparent pixel left the red
    // The green frame's rectangle is the window background again, red included: the captured
    // background, not the GIF's background colour.
    EXPECT_EQ(shown[2].pixel(1, 0), Under(1, 0));
    EXPECT_EQ(shown[2].pixel(2, 1), Under(2, 1));
    EXPECT_EQ(shown[2].pixel(1, 1), Under(1, 1));
    EXPECT_EQ(shown[2].pixel(3, 0), kRedPixel);
    EXPECT_EQ(shown[2].pixel(0, 0), kBluePixel);
}

TEST_F(GifComposition, RestoreToPreviousDropsTheFrameAfterItShowed) {
    // After a frame that stays.
    auto shown = PlayWritten({Frame(0, 0, 4, 2, kRed, 5, 1), Frame(1, 0, 2, 1, kGreen, 5, 3, {{1, 0}}),
                              Frame(3, 1, 1, 1, kWhite, 5, 1)});
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].pixel(1, 0), kGreenPixel);
    EXPECT_EQ(shown[1].pixel(2, 0), kRedPixel);
    EXPECT_EQ(shown[2].pixel(1, 0), kRedPixel);
    EXPECT_EQ(shown[2].pixel(3, 1), kWhitePixel);

    // After a frame restored to the background, and two in a row.
    shown = PlayWritten({Frame(0, 0, 4, 2, kRed, 5, 2), Frame(1, 0, 1, 1, kGreen, 5, 3),
                         Frame(2, 0, 1, 1, kBlue, 5, 3), Frame(3, 0, 1, 1, kWhite, 5, 1)});
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[1].pixel(1, 0), kGreenPixel);
    EXPECT_EQ(shown[1].pixel(0, 0), Under(0, 0));
    EXPECT_EQ(shown[2].pixel(2, 0), kBluePixel);
    EXPECT_EQ(shown[2].pixel(1, 0), Under(1, 0));
    EXPECT_EQ(shown[3].pixel(3, 0), kWhitePixel);
    EXPECT_EQ(shown[3].pixel(2, 0), Under(2, 0));
    EXPECT_EQ(shown[3].pixel(1, 0), Under(1, 0));
}

TEST_F(GifComposition, AFrameWithoutImageDataEndsThePass) {
    // Extensions after the last image: a frame without image.
    std::vector<GifFrame> frames = {Frame(0, 0, 4, 2, kRed, 5, 1), Frame(0, 0, 2, 2, kGreen, 5, 1)};
    GifFrame trailing;
    trailing.hasControl = true;
    trailing.delay = 9;
    frames.push_back(trailing);
    auto shown = PlayWritten(frames);
    ASSERT_EQ(animation.frames.size(), 3u);
    EXPECT_FALSE(animation.frames[2].HasImage());
    EXPECT_EQ(animation.frames[2].delay, 9);
    EXPECT_EQ(shown.size(), 2u);

    // Image data cut short: the frames before it play, nothing after it.
    const QString path = WriteGif(folder, QStringLiteral("cut.gif"),
                                  Animation(4, 2,
                                            {Frame(0, 0, 4, 2, kRed, 5, 1), Frame(0, 0, 2, 2, kGreen, 5, 1),
                                             Frame(0, 0, 4, 2, kBlue, 5, 1, {{1, 0}, {2, 1}, {0, 1}})}));
    const QByteArray whole = ReadAll(path);
    WriteAll(path, whole.left(whole.size() - 5));
    const auto decoded = DecodeGifFile(path.toStdString());
    ASSERT_TRUE(decoded.has_value());
    animation = *decoded;
    ASSERT_EQ(animation.frames.size(), 3u);
    EXPECT_FALSE(animation.frames[2].HasImage());
    shown = PlayDecoded();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].pixel(0, 0), kGreenPixel);
}

TEST_F(GifComposition, DecodingKeepsWhatThePlayerNeeds) {
    GifFrame local = Frame(1, 1, 2, 1, 1, 0, 2);
    local.palette = {0xff123456, 0xff654321};
    local.transparentIndex = -1;
    std::vector<GifFrame> frames = {Frame(0, 0, 4, 2, kRed, 7, 3), local};
    frames[1].loopCount = 513;
    WriteGif(folder, QStringLiteral("f.gif"), Animation(4, 2, frames));
    auto decoded = DecodeGifFile(folder.filePath(QStringLiteral("f.gif")).toStdString());
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->frames.size(), 2u);
    const GifFrame& first = decoded->frames[0];
    EXPECT_EQ(first.delay, 7);
    EXPECT_EQ(first.disposal, 3);
    EXPECT_EQ(first.transparentIndex, kClear);
    EXPECT_FALSE(first.loopCount.has_value());
    const GifFrame& second = decoded->frames[1];
    EXPECT_EQ(second.left, 1);
    EXPECT_EQ(second.top, 1);
    EXPECT_EQ(second.loopCount, 513);
    EXPECT_EQ(second.transparentIndex, -1);
    EXPECT_EQ(PrepareFrameImage(*decoded, second).pixel(0, 0), 0xff654321u);

    // The other name of the loop block counts the same.
    const QString path = folder.filePath(QStringLiteral("f.gif"));
    QByteArray bytes = ReadAll(path);
    ASSERT_TRUE(bytes.contains("NETSCAPE2.0"));
    bytes.replace("NETSCAPE2.0", "ANIMEXTS1.0");
    WriteAll(path, bytes);
    decoded = DecodeGifFile(path.toStdString());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->frames[1].loopCount, 513);

    WriteAll(path, "GIF89a but nothing else");
    EXPECT_FALSE(DecodeGifFile(path.toStdString()).has_value());
    EXPECT_FALSE(DecodeGifFile(folder.filePath(QStringLiteral("missing.gif")).toStdString()).has_value());
}

TEST_F(GifComposition, InterlacedRowsComeBackInPictureOrder) {
    // Eight rows stored in this order; marking the image interlaced makes them rows 0, 4, 2, 6, 1, 3, 5, 7.
    GifFrame frame = PlainFrame(0, 0, 1, 8, 0);
    for (int row = 0; row < 8; ++row)
        frame.pixels[row] = static_cast<std::uint8_t>(row);
    const QString path = WriteGif(folder, QStringLiteral("i.gif"), Animation(1, 8, {frame}));
    QByteArray bytes = ReadAll(path);
    const qsizetype descriptor = bytes.indexOf(QByteArray("\x2c\0\0\0\0\x01\0\x08\0", 9));
    ASSERT_GT(descriptor, 0);
    bytes[descriptor + 9] = static_cast<char>(bytes[descriptor + 9] | 0x40);
    WriteAll(path, bytes);
    const auto decoded = DecodeGifFile(path.toStdString());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->frames[0].pixels, (std::vector<std::uint8_t>{0, 4, 2, 5, 1, 6, 3, 7}));
}

TEST(FrameComposer, AFrameReachingOutsideTheScreenIsClipped) {
    GifAnimation animation =
        Animation(3, 2, {Frame(2, 1, 4, 3, kGreen, 5, 2), Frame(0, 0, 1, 1, kRed, 5, 1)});
    FrameComposer composer(animation, Background(3, 2));
    composer.Paint(animation.frames[0], PrepareFrameImage(animation, animation.frames[0]));
    EXPECT_EQ(composer.FrameBitmap().size(), QSize(3, 2));
    EXPECT_EQ(composer.FrameBitmap().pixel(2, 1), kGreenPixel);
    EXPECT_EQ(composer.FrameBitmap().pixel(1, 1), Under(1, 1));
    composer.Paint(animation.frames[1], PrepareFrameImage(animation, animation.frames[1]));
    EXPECT_EQ(composer.FrameBitmap().pixel(2, 1), Under(2, 1));
    EXPECT_EQ(composer.FrameBitmap().pixel(0, 0), kRedPixel);
}

} // namespace
} // namespace vornel::app
