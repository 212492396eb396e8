#include "app/ProgressPanel.h"

#include <QPainter>

namespace vornel::app {

namespace {

constexpr int kRowHeight = 17;

QLabel* WhiteLabel(QWidget* parent, const QRect& geometry, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignVCenter);
    QPalette white = label->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(white);
    return label;
}

QProgressBar* Bar(QWidget* parent, const QRect& geometry) {
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(geometry);
    bar->setRange(0, 100);
    bar->setAlignment(Qt::AlignCenter);
    // The style's own bar is taller than a row: a flat one fits and reads on the dark band.
    bar->setStyleSheet(QStringLiteral(
        "QProgressBar{border:1px solid #9cc3ea;border-radius:3px;background:#0d3f7a;color:white;"
        "font-size:11px;}QProgressBar::chunk{background:#3aa3ff;border-radius:2px;}"));
    return bar;
}

} // namespace

ProgressPanel::ProgressPanel(QWidget* parent) : QWidget(parent) {
    setGeometry(40, 562, 720, 2 * kRowHeight + 2);
    lbl_step = WhiteLabel(this, {6, 0, 344, kRowHeight}, Qt::AlignLeft);
    pb_step = Bar(this, {356, 2, 206, kRowHeight - 4});
    lbl_speed = WhiteLabel(this, {568, 0, 146, kRowHeight}, Qt::AlignLeft);
    auto* total = WhiteLabel(this, {6, kRowHeight + 1, 60, kRowHeight}, Qt::AlignLeft);
    total->setText(QStringLiteral("总进度"));
    pb_total = Bar(this, {66, kRowHeight + 3, 496, kRowHeight - 4});
    lbl_timeLeft = WhiteLabel(this, {568, kRowHeight + 1, 146, kRowHeight}, Qt::AlignLeft);
    hide();
}

void ProgressPanel::Show(const progress::ProgressView& view) {
    const QString step = QString::fromStdString(view.step);
    lbl_step->setText(lbl_step->fontMetrics().elidedText(step, Qt::ElideMiddle, lbl_step->width()));
    lbl_step->setToolTip(step);
    pb_step->setValue(view.stepPercent);
    pb_total->setValue(view.overallPercent);
    lbl_speed->setText(
        view.speed.empty() ? QString() : QStringLiteral("速度：%1").arg(QString::fromStdString(view.speed)));
    lbl_timeLeft->setText(view.timeLeft.empty()
                              ? QString()
                              : QStringLiteral("剩余时间：%1").arg(QString::fromStdString(view.timeLeft)));
    show();
}

void ProgressPanel::paintEvent(QPaintEvent*) {
    // An opaque dark band: the background's own small print would show through the text.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(10, 44, 92));
    painter.drawRoundedRect(rect(), 4, 4);
}

} // namespace vornel::app
