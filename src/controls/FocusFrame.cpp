#include "controls/FocusFrame.h"

#include <QApplication>
#include <QPainter>

namespace vornel::controls {

namespace {

// The ring: a gap of one pixel, then two pixels of line.
constexpr int kGap = 1;
constexpr int kLine = 2;
constexpr int kMargin = kGap + kLine;

} // namespace

FocusFrame::FocusFrame(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { FollowFocus(now); });
}

void FocusFrame::Watch(QWidget* control) {
    watched_.emplace_back(control);
    FollowFocus(QApplication::focusWidget());
}

void FocusFrame::FollowFocus(QWidget* focused) {
    // A control's focus may sit in a child of it (the web panel's page view).
    for (const QPointer<QWidget>& control : watched_)
        if (control && focused && (control == focused || control->isAncestorOf(focused))) {
            FrameAround(control);
            return;
        }
    framed_ = nullptr;
    hide();
}

void FocusFrame::FrameAround(QWidget* control) {
    framed_ = control;
    const QRect outer = control->geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin);
    setGeometry(outer);
    const QRect inner = rect().adjusted(kLine, kLine, -kLine, -kLine);
    setMask(QRegion(rect()).subtracted(QRegion(inner)));
    raise();
    show();
    update();
}

void FocusFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor line = palette().color(QPalette::Highlight);
    painter.fillRect(rect(), line);
}

} // namespace vornel::controls
