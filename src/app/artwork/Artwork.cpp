#include "artwork/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace vornel::artwork {

namespace {

constexpr int kTitleBandBottom = 96;
constexpr int kFooterTop = 507;
const QRect kWebFrame{30, 104, 740, 354};
const QRect kDrivePanel{20, 462, 760, 42};

QFont ArtFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

void DrawTitleBand(QPainter& painter, const QString& version) {
    QLinearGradient band(0, 0, 0, kTitleBandBottom);
    band.setColorAt(0, QColor(22, 96, 186));
    band.setColorAt(1, QColor(10, 50, 112));
    painter.fillRect(0, 0, 800, kTitleBandBottom, band);
    // A soft sheen over the upper half, and a bright rule under the band.
    QLinearGradient sheen(0, 0, 0, 48);
    sheen.setColorAt(0, QColor(255, 255, 255, 46));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(0, 0, 800, 48, sheen);
    painter.fillRect(0, kTitleBandBottom, 800, 2, QColor(74, 160, 240));

    painter.drawImage(24, 16, DrawLogo(64));

    painter.setPen(Qt::white);
    painter.setFont(ArtFont(32, true));
    painter.drawText(QRect(102, 14, 400, 44), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("VornelU盘装机"));
    painter.setPen(QColor(190, 216, 246));
    painter.setFont(ArtFont(13, false));
    painter.drawText(QRect(104, 58, 400, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("USB 启动盘一键制作工具"));

    painter.setPen(Qt::white);
    painter.setFont(ArtFont(18, true));
    painter.drawText(QRect(380, 42, 396, 26), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("一键制作  ·  简单  ·  安全  ·  可靠"));
    painter.setPen(QColor(190, 216, 246));
    painter.setFont(ArtFont(12, false));
    painter.drawText(QRect(380, 68, 396, 20), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("版本 %1").arg(version));
}

void DrawFramedPanel(QPainter& painter, const QRect& frame, const QColor& fill) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 70, 130, 28));
    painter.drawPath(shape.translated(0, 2));
    painter.setBrush(fill);
    painter.setPen(QPen(QColor(160, 188, 224), 1));
    painter.drawPath(shape);
}

void DrawFooter(QPainter& painter) {
    QLinearGradient footer(0, kFooterTop, 0, 600);
    footer.setColorAt(0, QColor(16, 52, 100));
    footer.setColorAt(1, QColor(8, 28, 58));
    painter.fillRect(0, kFooterTop, 800, 600 - kFooterTop, footer);
    painter.fillRect(0, kFooterTop, 800, 1, QColor(74, 160, 240));
    painter.setPen(QColor(120, 150, 196));
    painter.setFont(ArtFont(11, false));
    painter.drawText(QRect(0, 572, 800, 20), Qt::AlignCenter,
                     QStringLiteral("Copyright © Vornel  保留所有权利"));
}

void DrawDrivePrompt(QPainter& painter) {
    DrawFramedPanel(painter, kDrivePanel, QColor(248, 251, 255));
    painter.setPen(QColor(22, 58, 108));
    painter.setFont(ArtFont(14, true));
    painter.drawText(
        QRect(30, kDriveListArea.top() - 4, kDriveListArea.left() - 38, kDriveListArea.height() + 8),
        Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("请选择U盘："));
}

QPainterPath RoundedBar(const QSize& size) {
    QPainterPath bar;
    bar.addRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 5, 5);
    return bar;
}

} // namespace

QImage DrawLogo(int size) {
    QImage logo(size, size, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(255, 184, 62));
    tile.setColorAt(1, QColor(240, 104, 20));
    painter.setPen(QPen(QColor(255, 255, 255, 200), 2));
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    // A USB stick standing upright: connector, body and a bolt for "boot".
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(24, 10, 16, 12), 2, 2);
    painter.setBrush(QColor(240, 120, 30));
    painter.drawRect(QRectF(27, 13, 3, 4));
    painter.drawRect(QRectF(34, 13, 3, 4));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(18, 22, 28, 32), 5, 5);
    QPainterPath bolt;
    bolt.moveTo(34, 26);
    bolt.lineTo(25, 40);
    bolt.lineTo(31, 40);
    bolt.lineTo(29, 51);
    bolt.lineTo(39, 35);
    bolt.lineTo(33, 35);
    bolt.closeSubpath();
    painter.setBrush(QColor(240, 110, 24));
    painter.drawPath(bolt);
    return logo;
}

QImage DrawBackground(const QString& version) {
    QImage image(800, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient body(0, kTitleBandBottom, 0, kFooterTop);
    body.setColorAt(0, QColor(226, 236, 248));
    body.setColorAt(1, QColor(205, 220, 240));
    painter.fillRect(image.rect(), body);
    DrawTitleBand(painter, version);
    DrawFramedPanel(painter, kWebFrame, Qt::white);
    DrawDrivePrompt(painter);
    DrawFooter(painter);
    return image;
}

QImage DrawWideButton(const QImage& under, bool hot) {
    QImage face = under.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath bar = RoundedBar(face.size());
    QLinearGradient fill(0, 0, 0, face.height());
    if (hot) {
        fill.setColorAt(0, QColor(134, 232, 255));
        fill.setColorAt(0.5, QColor(40, 190, 236));
        fill.setColorAt(1, QColor(14, 144, 200));
    } else {
        fill.setColorAt(0, QColor(96, 178, 255));
        fill.setColorAt(0.5, QColor(32, 122, 226));
        fill.setColorAt(1, QColor(12, 84, 180));
    }
    painter.setPen(QPen(hot ? QColor(10, 110, 160) : QColor(8, 56, 128), 1));
    painter.setBrush(fill);
    painter.drawPath(bar);
    // The gloss: a pale upper half inside the border.
    QLinearGradient gloss(0, 1, 0, face.height() / 2.0);
    gloss.setColorAt(0, QColor(255, 255, 255, 120));
    gloss.setColorAt(1, QColor(255, 255, 255, 24));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gloss);
    painter.drawRoundedRect(QRectF(2, 2, face.width() - 4, face.height() / 2.0 - 1), 4, 4);
    painter.end();
    AvoidColour(face, qRgb(128, 128, 0));
    return face;
}

QImage DrawDiscButton(const QImage& under, DiscGlyph glyph, bool hot) {
    QImage face = under.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(face.width() / 2.0, face.height() / 2.0);
    const double radius = face.width() / 2.0 - 1;
    const bool cross = glyph == DiscGlyph::Cross;
    QRadialGradient fill(centre - QPointF(3, 4), radius * 1.4);
    if (cross) {
        fill.setColorAt(0, hot ? QColor(255, 190, 120) : QColor(255, 160, 80));
        fill.setColorAt(1, hot ? QColor(250, 110, 30) : QColor(226, 88, 8));
    } else {
        fill.setColorAt(0, hot ? QColor(150, 240, 150) : QColor(110, 214, 118));
        fill.setColorAt(1, hot ? QColor(50, 180, 70) : QColor(36, 144, 56));
    }
    painter.setPen(QPen(QColor(255, 255, 255, 210), 1.2));
    painter.setBrush(fill);
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
    if (cross) {
        painter.drawLine(centre + QPointF(-5, -5), centre + QPointF(5, 5));
        painter.drawLine(centre + QPointF(5, -5), centre + QPointF(-5, 5));
    } else {
        painter.drawLine(centre + QPointF(-5.5, 0), centre + QPointF(5.5, 0));
    }
    painter.end();
    AvoidColour(face, qRgb(128, 128, 0));
    return face;
}

void AvoidColour(QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & RGB_MASK) == (colour & RGB_MASK))
                image.setPixel(x, y, qRgb(qRed(colour), qGreen(colour), (qBlue(colour) + 1) & 0xFF));
}

} // namespace vornel::artwork
