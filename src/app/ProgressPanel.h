#pragma once
// The disk tool's progress under the wait picture: the step, a bar for the step and one for the
// whole operation, the speed and the time left. It only shows what progress::OperationProgress
// worked out.

#include "progress/OperationProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace vornel::app {

class ProgressPanel : public QWidget {
  public:
    explicit ProgressPanel(QWidget* parent);

    // Shows the panel with `view`.
    void Show(const progress::ProgressView& view);

    QLabel* lbl_step = nullptr;
    QProgressBar* pb_step = nullptr;
    QProgressBar* pb_total = nullptr;
    QLabel* lbl_speed = nullptr;
    QLabel* lbl_timeLeft = nullptr;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vornel::app
