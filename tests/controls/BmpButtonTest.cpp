#include "controls/BmpButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace vornel::controls {
namespace {

const QColor kParentGreen{0, 200, 0};
const QColor kUpBlue{0, 0, 200};
const QColor kHotCyan{0, 220, 220};
const QColor kDisabledRed{200, 0, 0};

// A window that paints one flat colour, so the pixels under a button are known.
class GreenWindow : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kParentGreen); }
};

QImage Flat(const QColor& colour, QSize size = {40, 20}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    // The left four columns carry the transparent colour.
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixelColor(x, y, kClOlive);
    return image;
}

class BmpButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.resize(200, 100);
        button = new TBmpButton(&window);
        button->Bitmaps().Set(Face::Up, Flat(kUpBlue));
        button->Bitmaps().Set(Face::Hot, Flat(kHotCyan));
        button->Bitmaps().Set(Face::Disabled, Flat(kDisabledRed));
        button->move(50, 30);
        other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        other->setGeometry(0, 0, 10, 10);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        other->setFocus();
    }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton which = Qt::LeftButton) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(which);
        QMouseEvent event(type, at, button->mapToGlobal(at), which, held, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
    void Key(QEvent::Type type, int key, bool autoRepeat = false) {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(button, &event);
    }
    void Enter() {
        QEnterEvent event(QPointF(10, 10), QPointF(10, 10), button->mapToGlobal(QPointF(10, 10)));
        QApplication::sendEvent(button, &event);
    }
    QColor PictureAt(int x, int y) { return button->ComposeFace().pixelColor(x, y); }

    GreenWindow window;
    TBmpButton* button = nullptr;
    QWidget* other = nullptr;
};

TEST_F(BmpButtonTest, TakesTheUpSizeWhateverTheLayoutSays) {
    EXPECT_EQ(button->size(), QSize(40, 20));
    button->setGeometry(60, 40, 135, 50);
    EXPECT_EQ(button->geometry(), QRect(60, 40, 40, 20));
    button->Bitmaps().Set(Face::Up, Flat(kUpBlue, {29, 29}));
    EXPECT_EQ(button->size(), QSize(29, 29));
}

TEST_F(BmpButtonTest, TransparentColourShowsTheParentAndOnlyThatColour) {
    EXPECT_EQ(PictureAt(1, 5), kParentGreen);
    EXPECT_EQ(PictureAt(4, 5), kUpBlue);
    EXPECT_EQ(PictureAt(39, 19), kUpBlue);

    button->Bitmaps().SetTransparentColor(kUpBlue);
    EXPECT_EQ(PictureAt(20, 10), kParentGreen);
    EXPECT_EQ(PictureAt(1, 5), kClOlive);
}

TEST_F(BmpButtonTest, ChangeNoticeOnlyForRealChanges) {
    int changes = 0;
    TButtonBitmaps bitmaps;
    bitmaps.OnChange = [&] { ++changes; };
    bitmaps.SetTransparentColor(kClOlive);
    EXPECT_EQ(changes, 0);
    bitmaps.SetTransparentColor(Qt::red);
    bitmaps.Set(Face::Hot, Flat(kHotCyan));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(bitmaps.Has(Face::Hot));
    EXPECT_FALSE(bitmaps.Has(Face::Down));
}

TEST_F(BmpButtonTest, HotOnlyWhileUpAndPointerInside) {
    EXPECT_EQ(PictureAt(20, 10), kUpBlue);
    Enter();
    EXPECT_EQ(PictureAt(20, 10), kHotCyan);
    Mouse(QEvent::MouseButtonPress, {20, 10});
    EXPECT_EQ(button->State(), ButtonState::Pressed);
    EXPECT_EQ(PictureAt(20, 10), kUpBlue) << "a pressed button never shows Hot";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    Mouse(QEvent::MouseButtonRelease, {20, 10});
    EXPECT_EQ(PictureAt(20, 10), kUpBlue);
}

TEST_F(BmpButtonTest, DisabledUnderThePointerShowsDisabledAndAnEtchedCaption) {
    QFont font = button->font();
    font.setPixelSize(16);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    button->setFont(font);
    button->SetFontColor(Qt::yellow);
    button->SetCaption("HH");
    Enter();
    button->setEnabled(false);

    const QImage face = button->ComposeFace();
    EXPECT_EQ(button->State(), ButtonState::Disabled);
    EXPECT_EQ(face.pixelColor(5, 1), kDisabledRed);
    int grey = 0, whiteBelowRight = 0, yellow = 0;
    for (int y = 0; y + 1 < face.height(); ++y)
        for (int x = 0; x + 1 < face.width(); ++x) {
            const QColor pixel = face.pixelColor(x, y);
            yellow += pixel == QColor(Qt::yellow);
            if (pixel == QColor(128, 128, 128)) {
                ++grey;
                // The white copy sits one pixel right and down: the lower right edge of a stroke
                // shows it.
                const QColor diagonal = face.pixelColor(x + 1, y + 1);
                whiteBelowRight += diagonal == QColor(Qt::white);
            }
        }
    EXPECT_GT(grey, 10);
    EXPECT_GT(whiteBelowRight, 0);
    EXPECT_EQ(yellow, 0) << "the font's colour is not used while disabled";

    button->setEnabled(true);
    EXPECT_EQ(button->State(), ButtonState::Up);
    EXPECT_EQ(PictureAt(5, 1), kHotCyan);
}

TEST_F(BmpButtonTest, PressMoveOutReleaseGivesNoClickComingBackGivesOne) {
    QSignalSpy clicks(button, &TBmpButton::OnClick);
    Mouse(QEvent::MouseButtonPress, {20, 10});
    Mouse(QEvent::MouseMove, {40, 10}); // x == width is outside
    EXPECT_EQ(button->State(), ButtonState::Up);
    Mouse(QEvent::MouseButtonRelease, {40, 10});
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(button->Pressing());

    Mouse(QEvent::MouseButtonPress, {20, 10});
    Mouse(QEvent::MouseMove, {-1, 10});
    Mouse(QEvent::MouseMove, {0, 19});
    EXPECT_EQ(button->State(), ButtonState::Pressed);
    Mouse(QEvent::MouseButtonRelease, {0, 19});
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(button->State(), ButtonState::Up);
    EXPECT_TRUE(button->hasFocus()) << "the clicked button keeps the focus";
}

TEST_F(BmpButtonTest, StateIsUpAgainWhenTheClickHandlerRuns) {
    ButtonState seen = ButtonState::Pressed;
    QObject::connect(button, &TBmpButton::OnClick, [&] { seen = button->State(); });
    Mouse(QEvent::MouseButtonPress, {20, 10});
    Mouse(QEvent::MouseButtonRelease, {20, 10});
    EXPECT_EQ(seen, ButtonState::Up);
}

TEST_F(BmpButtonTest, RightPressTakesFocusButNeitherPressesNorClicks) {
    QSignalSpy clicks(button, &TBmpButton::OnClick);
    Mouse(QEvent::MouseButtonPress, {20, 10}, Qt::RightButton);
    EXPECT_TRUE(button->hasFocus());
    EXPECT_EQ(button->State(), ButtonState::Up);
    Mouse(QEvent::MouseButtonRelease, {20, 10}, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(BmpButtonTest, DisabledButtonIgnoresPressesAndTakesNoFocus) {
    QSignalSpy clicks(button, &TBmpButton::OnClick);
    button->setEnabled(false);
    Mouse(QEvent::MouseButtonPress, {20, 10});
    Mouse(QEvent::MouseButtonRelease, {20, 10});
    EXPECT_FALSE(button->hasFocus());
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(BmpButtonTest, DoubleClickGivesTwoClicks) {
    QSignalSpy clicks(button, &TBmpButton::OnClick);
    Mouse(QEvent::MouseButtonPress, {20, 10});
    Mouse(QEvent::MouseButtonRelease, {20, 10});
    Mouse(QEvent::MouseButtonDblClick, {20, 10});
    Mouse(QEvent::MouseButtonRelease, {20, 10});
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(BmpButtonTest, EnterClicksAtOnceSpaceClicksOnRelease) {
    QSignalSpy clicks(button, &TBmpButton::OnClick);
    Key(QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(button->State(), ButtonState::Up);

    Key(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(button->State(), ButtonState::Pressed);
    Key(QEvent::KeyRelease, Qt::Key_Space, true);
    Key(QEvent::KeyPress, Qt::Key_Space, true);
    EXPECT_EQ(clicks.count(), 1) << "a held key's repeats do not click";
    Key(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(button->State(), ButtonState::Up);
    Key(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(BmpButtonTest, MissingUpDrawsOnlyTheWindowBehindUnlessDisabledWithAPicture) {
    button->Bitmaps().Set(Face::Up, QImage());
    button->setFixedSize(40, 20);
    EXPECT_EQ(PictureAt(20, 10), kParentGreen);
    button->setEnabled(false);
    EXPECT_EQ(PictureAt(20, 10), kDisabledRed);
    button->Bitmaps().Set(Face::Disabled, QImage());
    EXPECT_EQ(PictureAt(20, 10), kParentGreen);
}

TEST_F(BmpButtonTest, MissingDisabledPictureIsEtchedFromTheBlackOfUp) {
    QImage up = Flat(kUpBlue);
    for (int x = 10; x < 20; ++x)
        up.setPixelColor(x, 10, Qt::black);
    button->Bitmaps().Set(Face::Up, up);
    button->Bitmaps().Set(Face::Disabled, QImage());
    button->setEnabled(false);
    const QColor face = button->palette().color(QPalette::Button);
    const QColor shadow = button->palette().color(QPalette::Dark);
    EXPECT_EQ(PictureAt(15, 10), shadow);
    EXPECT_EQ(PictureAt(15, 11), QColor(Qt::white));
    EXPECT_EQ(PictureAt(20, 11), QColor(Qt::white));
    EXPECT_EQ(PictureAt(15, 5), face);
    EXPECT_EQ(PictureAt(1, 5), face) << "the etched copy has no transparent pixels";
}

TEST_F(BmpButtonTest, FocusRectangleShownOnlyWhileFocusedWithShowFocus) {
    button->Bitmaps().Set(Face::Hot, QImage());
    const QImage unfocusedBare = button->grab().toImage();
    button->setFocus(Qt::TabFocusReason);
    const QImage focusedBare = button->grab().toImage();
    EXPECT_NE(focusedBare, unfocusedBare) << "a title bar button shows its focus too";
    for (QPoint band : {QPoint(20, 1), QPoint(21, 2), QPoint(38, 10)})
        EXPECT_EQ(focusedBare.pixelColor(band), QColor(255, 255, 55))
            << "inverted blue, just inside the edge";
    EXPECT_EQ(focusedBare.pixelColor(20, 10), kUpBlue) << "the face itself is untouched";
    other->setFocus();
    EXPECT_EQ(button->grab().toImage(), unfocusedBare);

    button->setFocus();
    button->SetCaption("OK");
    const QImage focused = button->ComposeFace();
    button->SetShowFocus(false);
    EXPECT_NE(button->ComposeFace(), focused);
}

TEST_F(BmpButtonTest, PressedCaptionMovesByTheDownOffset) {
    QFont font = button->font();
    font.setStyleStrategy(QFont::NoAntialias);
    button->setFont(font);
    button->SetCaption("I");
    button->SetFontColor(Qt::white);
    auto captionLeft = [&] {
        const QImage face = button->ComposeFace();
        for (int x = 0; x < face.width(); ++x)
            for (int y = 0; y < face.height(); ++y)
                if (face.pixelColor(x, y) == QColor(Qt::white))
                    return QPoint(x, y);
        return QPoint(-1, -1);
    };
    button->SetShowFocus(false);
    const QPoint up = captionLeft();
    button->SetCaptionDownOffset(3);
    Key(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(captionLeft(), up + QPoint(3, 3));
}

} // namespace
} // namespace vornel::controls
