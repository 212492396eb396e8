#include "controls/FocusFrame.h"

#include <QTest>
#include <gtest/gtest.h>

namespace vornel::controls {
namespace {

TEST(FocusFrameTest, FollowsTheFocusIntoAWatchedControlAndNowhereElse) {
    QWidget window;
    window.resize(300, 200);
    auto* panel = new QWidget(&window);
    panel->setGeometry(40, 50, 100, 60);
    auto* pageInside = new QWidget(panel); // holds the focus for the panel, as a page view does
    pageInside->setFocusPolicy(Qt::StrongFocus);
    auto* unwatched = new QWidget(&window);
    unwatched->setGeometry(200, 10, 20, 20);
    unwatched->setFocusPolicy(Qt::StrongFocus);
    auto* frame = new FocusFrame(&window);
    frame->Watch(panel);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    pageInside->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(frame->Framed(), panel);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->geometry(), QRect(37, 47, 106, 66));
    // The ring only: the panel's own pixels stay its own.
    EXPECT_TRUE(frame->mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(frame->mask().contains(frame->mapFromParent(QPoint(40, 50))));
    EXPECT_FALSE(frame->mask().contains(frame->mapFromParent(QPoint(139, 109))));

    unwatched->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(frame->Framed(), nullptr);
    EXPECT_FALSE(frame->isVisible());
}

} // namespace
} // namespace vornel::controls
