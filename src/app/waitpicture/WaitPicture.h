#pragma once
// The wait picture: an animated GIF shown while the program is busy. The frames are timed by a
// thread of the player's own and painted on the user interface thread.

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>

namespace vornel::app {

class WaitPicture : public QWidget {
    Q_OBJECT
  public:
    explicit WaitPicture(QWidget* parent = nullptr);
    ~WaitPicture() override; // stops the player cleanly, never painting after destruction

    // Loads a GIF file; the widget takes the picture's logical screen size. False (and an empty
    // picture) when the file cannot be decoded; nothing is reported.
    bool LoadFile(const QString& path);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The window pixels that lie under the picture now: the parent's own painting and the
    // siblings stacked below this widget.
    QImage CaptureBackground(QSize size) const;

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vornel::app
