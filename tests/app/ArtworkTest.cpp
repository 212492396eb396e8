// The committed artwork keeps the rules the buttons rely on.

#include "controls/ButtonBitmaps.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

namespace {

struct Bitmap {
    const char* name;
    QSize size;
};

TEST(ArtworkTest, ButtonBitmapsAre24BitsWithoutTheTransparentColour) {
    const Bitmap bitmaps[] = {{"button_up", {135, 30}},       {"button_hot", {135, 30}},
                              {"button_disabled", {135, 30}}, {"close_up", {29, 29}},
                              {"close_hot", {29, 29}},        {"close_disabled", {29, 29}},
                              {"min_up", {28, 29}},           {"min_hot", {28, 29}}};
    for (const Bitmap& bitmap : bitmaps) {
        SCOPED_TRACE(bitmap.name);
        QFile file(QStringLiteral(":/artwork/%1.bmp").arg(bitmap.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_GT(bytes.size(), 30);
        EXPECT_EQ(bytes.left(2), QByteArray("BM"));
        EXPECT_EQ(static_cast<unsigned char>(bytes[28]) | static_cast<unsigned char>(bytes[29]) << 8, 24);

        const QImage image = QImage::fromData(bytes, "BMP");
        ASSERT_EQ(image.size(), bitmap.size);
        const QRgb olive = vornel::controls::kClOlive.rgb() & RGB_MASK;
        int oliveCount = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                oliveCount += (image.pixel(x, y) & RGB_MASK) == olive;
        EXPECT_EQ(oliveCount, 0);
    }
    EXPECT_EQ(QImage(QStringLiteral(":/artwork/button_up.bmp")),
              QImage(QStringLiteral(":/artwork/button_disabled.bmp")));
    EXPECT_EQ(QImage(QStringLiteral(":/artwork/close_up.bmp")),
              QImage(QStringLiteral(":/artwork/close_disabled.bmp")));
    EXPECT_NE(QImage(QStringLiteral(":/artwork/button_up.bmp")),
              QImage(QStringLiteral(":/artwork/button_hot.bmp")));
}

} // namespace
