#pragma once
// A frame drawn just outside whichever of its watched controls holds the keyboard focus, so the
// focus shows on controls whose own look shows it faintly or not at all (the web panel). It
// covers only the ring around the control and lets the mouse through.

#include <QPointer>
#include <QWidget>
#include <vector>

namespace vornel::controls {

class FocusFrame : public QWidget {
    Q_OBJECT
  public:
    // `parent`: the window the watched controls sit in, directly.
    explicit FocusFrame(QWidget* parent);

    void Watch(QWidget* control);
    // The watched control framed now, or null.
    QWidget* Framed() const { return framed_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void FollowFocus(QWidget* focused);
    void FrameAround(QWidget* control);

    std::vector<QPointer<QWidget>> watched_;
    QPointer<QWidget> framed_;
};

} // namespace vornel::controls
