#pragma once
// A focusable push button whose whole face is a picture chosen by its state, with an optional
// caption centred over it. Pixels of the transparent colour show the parent window behind. The
// button takes the size of its Up picture. While it holds the keyboard focus a dotted rectangle
// surrounds its caption, or, without a caption, a solid inverted band lies just inside its edges.

#include "controls/ButtonBitmaps.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <string>

namespace vornel::controls {

enum class ButtonState { Up, Disabled, Pressed };

class TBmpButton : public QWidget {
    Q_OBJECT
  public:
    explicit TBmpButton(QWidget* parent = nullptr);

    // Changes made through this reference resize and repaint the button.
    TButtonBitmaps& Bitmaps() { return bitmaps_; }

    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    // The caption's colour in the up and pressed looks (a disabled caption is etched instead).
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& colour);
    int CaptionDownOffset() const { return captionDownOffset_; }
    void SetCaptionDownOffset(int offset);
    bool ShowFocus() const { return showFocus_; }
    void SetShowFocus(bool show);

    ButtonState State() const { return state_; }
    bool PointerInside() const { return pointerInside_; }
    bool Pressing() const { return pressing_; }

    // The face as it would be painted now, composed off-screen over the parent's pixels.
    QImage ComposeFace();

  signals:
    void OnClick();
    void OnMouseEnter();
    void OnMouseLeave();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void CorrectState();
    void ApplyAutoSize();
    void SetStateAndRepaint(ButtonState state);
    void Click();
    bool Inside(const QPoint& position) const;
    void DrawParentBackground(QPainter& painter);
    const QImage* ChooseFace(QImage& generated) const;
    QImage EtchedCopyOfUp() const;
    // Draws the caption; `focusFrame` receives the focus rectangle to draw, or stays null.
    void DrawCaption(QPainter& painter, QRect& focusFrame);

    TButtonBitmaps bitmaps_;
    std::string caption_;
    QColor fontColor_{Qt::black};
    int captionDownOffset_ = 1;
    bool showFocus_ = true;
    ButtonState state_ = ButtonState::Up;
    bool pointerInside_ = false;
    bool pressing_ = false;
};

} // namespace vornel::controls
