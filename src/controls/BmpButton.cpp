#include "controls/BmpButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace vornel::controls {

namespace {

const QColor kEtchedGrey{128, 128, 128};
// A button without a caption shows its focus as a solid band this far inside its edges: a
// dotted line would be lost on a small picture.
constexpr int kBareFocusInset = 1;
constexpr int kBareFocusWidth = 2;

// The pixels of `picture` that equal `reference`, as a picture of `colour` on transparency.
QImage Silhouette(const QImage& picture, QRgb reference, const QColor& colour) {
    QImage source = picture.convertToFormat(QImage::Format_RGB32);
    QImage result(source.size(), QImage::Format_ARGB32);
    result.fill(Qt::transparent);
    const QRgb paint = colour.rgb();
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < source.width(); ++x)
            if ((in[x] & RGB_MASK) == (reference & RGB_MASK))
                out[x] = paint;
    }
    return result;
}

// Inverts every `step`-th pixel of the outline, so the line shows on any picture.
void InvertFocusRect(QImage& face, const QRect& frame, int step) {
    auto invert = [&face](int x, int y) {
        if (face.rect().contains(x, y))
            face.setPixel(x, y, face.pixel(x, y) ^ RGB_MASK);
    };
    for (int x = frame.left(); x <= frame.right(); x += step) {
        invert(x, frame.top());
        invert(x, frame.bottom());
    }
    for (int y = frame.top() + step; y < frame.bottom(); y += step) {
        invert(frame.left(), y);
        invert(frame.right(), y);
    }
}

} // namespace

TBmpButton::TBmpButton(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Tab reaches the button; a mouse press takes the focus by the button's own rule.
    setFocusPolicy(Qt::TabFocus);
    resize(80, 30);
    bitmaps_.OnChange = [this] {
        ApplyAutoSize();
        update();
    };
}

void TBmpButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    update();
}

void TBmpButton::SetFontColor(const QColor& colour) {
    fontColor_ = colour;
    update();
}

void TBmpButton::SetCaptionDownOffset(int offset) {
    if (offset == captionDownOffset_)
        return;
    captionDownOffset_ = offset;
    update();
}

void TBmpButton::SetShowFocus(bool show) {
    if (show == showFocus_)
        return;
    showFocus_ = show;
    update();
}

void TBmpButton::ApplyAutoSize() {
    // A fixed size makes every later resize, the layout's included, yield to the Up picture.
    if (bitmaps_.Has(Face::Up)) {
        setFixedSize(bitmaps_.Get(Face::Up).size());
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void TBmpButton::CorrectState() {
    if (!isEnabled()) {
        state_ = ButtonState::Disabled;
        pressing_ = false;
    } else if (state_ == ButtonState::Disabled) {
        state_ = ButtonState::Up;
    }
}

void TBmpButton::SetStateAndRepaint(ButtonState state) {
    state_ = state;
    repaint();
}

bool TBmpButton::Inside(const QPoint& position) const {
    return position.x() >= 0 && position.x() < width() && position.y() >= 0 && position.y() < height();
}

void TBmpButton::Click() {
    emit OnClick();
}

QImage TBmpButton::EtchedCopyOfUp() const {
    const QImage& up = bitmaps_.Get(Face::Up);
    QImage etched(up.size(), QImage::Format_RGB32);
    etched.fill(palette().color(QPalette::Button));
    QPainter painter(&etched);
    const QRgb black = qRgb(0, 0, 0);
    painter.drawImage(QPoint(1, 1), Silhouette(up, black, Qt::white));
    painter.drawImage(QPoint(0, 0), Silhouette(up, black, palette().color(QPalette::Dark)));
    return etched;
}

const QImage* TBmpButton::ChooseFace(QImage& generated) const {
    const bool focused = hasFocus() && showFocus_;
    switch (state_) {
    case ButtonState::Up:
        if (pointerInside_ && bitmaps_.Has(Face::Hot))
            return &bitmaps_.Get(Face::Hot);
        if (focused && bitmaps_.Has(Face::UpAndFocused))
            return &bitmaps_.Get(Face::UpAndFocused);
        return &bitmaps_.Get(Face::Up);
    case ButtonState::Disabled:
        if (bitmaps_.Has(Face::Disabled))
            return &bitmaps_.Get(Face::Disabled);
        generated = EtchedCopyOfUp();
        return &generated;
    case ButtonState::Pressed:
        if (bitmaps_.Has(Face::Down))
            return &bitmaps_.Get(Face::Down);
        return &bitmaps_.Get(Face::Up);
    }
    return nullptr;
}

void TBmpButton::DrawParentBackground(QPainter& painter) {
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    const QRect under = geometry() & parent->rect();
    if (under.isEmpty())
        return;
    // Only the parent's own surface: rendering its children would paint this button again.
    parent->render(&painter, under.topLeft() - pos(), QRegion(under), QWidget::DrawWindowBackground);
}

void TBmpButton::DrawCaption(QPainter& painter, QRect& focusFrame) {
    if (caption_.empty())
        return;
    const QString text = QString::fromStdString(caption_);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setFont(font());
    const QRect measured = QFontMetrics(font()).boundingRect(QRect(0, 0, width(), height()), flags, text);
    QRect box(width() / 2 - measured.width() / 2, height() / 2 - measured.height() / 2, measured.width(),
              measured.height());
    if (state_ == ButtonState::Disabled) {
        painter.setPen(Qt::white);
        painter.drawText(box.translated(1, 1), flags, text);
        painter.setPen(kEtchedGrey);
        painter.drawText(box, flags, text);
    } else {
        if (state_ == ButtonState::Pressed)
            box.translate(captionDownOffset_, captionDownOffset_);
        painter.setPen(fontColor_);
        painter.drawText(box, flags, text);
    }
    if (hasFocus() && showFocus_)
        focusFrame = box.adjusted(-2, -2, 2, 2);
}

QImage TBmpButton::ComposeFace() {
    CorrectState();
    QImage face(size(), QImage::Format_ARGB32_Premultiplied);
    face.fill(palette().color(QPalette::Window));
    QPainter painter(&face);
    DrawParentBackground(painter);
    const bool drawPicture =
        bitmaps_.Has(Face::Up) || (state_ == ButtonState::Disabled && bitmaps_.Has(Face::Disabled));
    if (drawPicture) {
        QImage generated;
        if (const QImage* picture = ChooseFace(generated); picture && !picture->isNull())
            painter.drawImage(rect(), WithoutColour(*picture, bitmaps_.TransparentColor()));
    }
    QRect focusFrame;
    DrawCaption(painter, focusFrame);
    painter.end();
    if (!focusFrame.isNull())
        InvertFocusRect(face, focusFrame, 2);
    // The title bar's buttons have no caption, and Enter on them is as weighty as on the others.
    if (caption_.empty() && hasFocus() && showFocus_)
        for (int inset = kBareFocusInset; inset < kBareFocusInset + kBareFocusWidth; ++inset)
            InvertFocusRect(face, rect().adjusted(inset, inset, -inset, -inset), 1);
    return face;
}

void TBmpButton::paintEvent(QPaintEvent*) {
    const QImage face = ComposeFace();
    QPainter(this).drawImage(0, 0, face);
}

void TBmpButton::mousePressEvent(QMouseEvent* event) {
    if (isEnabled() && !hasFocus() && isVisible())
        setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton && isEnabled() && hasFocus()) {
        SetStateAndRepaint(ButtonState::Pressed);
        pressing_ = true;
    }
}

void TBmpButton::mouseMoveEvent(QMouseEvent* event) {
    if (!pressing_)
        return;
    const ButtonState wanted = Inside(event->position().toPoint()) ? ButtonState::Pressed : ButtonState::Up;
    if (wanted != state_)
        SetStateAndRepaint(wanted);
}

void TBmpButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressing_)
        return;
    pressing_ = false;
    const bool inside = Inside(event->position().toPoint());
    SetStateAndRepaint(ButtonState::Up);
    if (inside)
        Click();
}

void TBmpButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Click();
    } else if (event->key() == Qt::Key_Space && isEnabled()) {
        SetStateAndRepaint(ButtonState::Pressed);
        pressing_ = true;
    } else {
        QWidget::keyPressEvent(event);
    }
}

void TBmpButton::keyReleaseEvent(QKeyEvent* event) {
    // A held key repeats its release too; only the real release ends the press.
    if (!pressing_ || event->isAutoRepeat()) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    pressing_ = false;
    SetStateAndRepaint(ButtonState::Up);
    Click();
}

void TBmpButton::enterEvent(QEnterEvent*) {
    pointerInside_ = true;
    emit OnMouseEnter();
    if (bitmaps_.Has(Face::Hot))
        update();
}

void TBmpButton::leaveEvent(QEvent*) {
    pointerInside_ = false;
    emit OnMouseLeave();
    if (bitmaps_.Has(Face::Hot))
        update();
}

void TBmpButton::focusInEvent(QFocusEvent*) {
    update();
}

void TBmpButton::focusOutEvent(QFocusEvent*) {
    update();
}

void TBmpButton::changeEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::EnabledChange:
        CorrectState();
        update();
        break;
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

} // namespace vornel::controls
