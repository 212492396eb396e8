#include "app/JpegPicture.h"

#include <QFile>
#include <gtest/gtest.h>
#include <stdexcept>

namespace vornel::app {
namespace {

QByteArray Background() {
    QFile file(QStringLiteral(":/artwork/background.jpg"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

TEST(JpegPictureTest, DecodesTheProgressiveBackground) {
    const DecodedJpeg decoded = DecodeJpeg(Background());
    EXPECT_TRUE(decoded.progressive);
    EXPECT_EQ(decoded.image.size(), QSize(800, 600));
}

TEST(JpegPictureTest, DamagedDataIsAnErrorNotAnExit) {
    EXPECT_THROW(DecodeJpeg(QByteArray()), std::runtime_error);
    EXPECT_THROW(DecodeJpeg(QByteArray("GIF89a not a jpeg at all")), std::runtime_error);

    QByteArray headerOnly = Background().left(200);
    EXPECT_THROW(DecodeJpeg(headerOnly), std::runtime_error);

    // A file cut short decodes what it holds; libjpeg fills the rest.
    const QByteArray whole = Background();
    const DecodedJpeg cut = DecodeJpeg(whole.left(whole.size() / 2));
    EXPECT_EQ(cut.image.size(), QSize(800, 600));
}

} // namespace
} // namespace vornel::app
