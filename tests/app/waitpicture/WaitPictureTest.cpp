#include "app/waitpicture/WaitPicture.h"
#include "app/waitpicture/FramePlayer.h"

#include "TestGifs.h"

#include <pthread.h>
#include <time.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

#include <thread>

namespace vornel::app {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr QRgb kWindowColor = 0xff203040;
constexpr QRgb kSiblingColor = 0xff708090;

void ProcessEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The player's timing threads alive in this process, found by their name.
int TimingThreads() {
    int count = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == FramePlayer::kThreadName)
            ++count;
    }
    return count;
}

// The main window in small: its own painting, a background picture as a sibling widget under
// the left half of the wait picture, and the wait picture itself, hidden as when not busy.
class Window : public QWidget {
  public:
    Window() {
        resize(60, 40);
        backPicture->setGeometry(0, 0, 12, 40);
        backPicture->setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor::fromRgb(kSiblingColor));
        backPicture->setPalette(palette);
        picture->move(10, 10);
        picture->hide();
    }
    // Painting of the window itself, which the picture's transparent pixels show.
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgb(kWindowColor)); }

    QWidget* backPicture = new QWidget(this);
    WaitPicture* picture = new WaitPicture(this);
};

// Processes events until the picture's first paint has started its player.
bool WaitForTimingThread() {
    QElapsedTimer timer;
    timer.start();
    while (TimingThreads() == 0 && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return TimingThreads() == 1;
}

QRgb ShownAt(WaitPicture* picture, int x, int y) {
    return picture->grab().toImage().pixel(x, y);
}

class WaitPictureTest : public ::testing::Test {
  protected:
    // Four frames of 4 x 2 pixels, transparent at the left and right ends of the top row.
    QString Colours(std::optional<int> loopCount, int delay = 3) {
        std::vector<GifFrame> frames;
        for (std::uint8_t colour : {kRed, kGreen, kBlue, kWhite})
            frames.push_back(Frame(0, 0, 4, 2, colour, delay, 1, {{0, 0}, {3, 0}}));
        frames[0].loopCount = loopCount;
        return WriteGif(folder, QStringLiteral("colours.gif"), Animation(4, 2, frames));
    }

    QTemporaryDir folder;
};

TEST_F(WaitPictureTest, ShowingThePictureStartsItOverTheWindowBackground) {
    Window window;
    ASSERT_TRUE(window.picture->LoadFile(Colours(std::nullopt, 50)));
    EXPECT_EQ(window.picture->size(), QSize(4, 2));
    window.show();
    ProcessEventsFor(100);
    EXPECT_EQ(TimingThreads(), 0); // hidden: not painted, not started

    window.picture->show(); // what the busy state does
    ASSERT_TRUE(WaitForTimingThread());
    EXPECT_EQ(ShownAt(window.picture, 1, 0), kPalette[kRed]);
    EXPECT_EQ(ShownAt(window.picture, 0, 0), kSiblingColor);
    EXPECT_EQ(ShownAt(window.picture, 3, 0), kWindowColor);
}

TEST_F(WaitPictureTest, FramesAdvanceOnlyWhileEventsAreProcessedAndTheLastOneStays) {
    Window window;
    ASSERT_TRUE(window.picture->LoadFile(Colours(std::nullopt)));
    window.show();
    window.picture->show();
    ASSERT_TRUE(WaitForTimingThread());

    std::this_thread::sleep_for(300ms); // ten frame delays with no event processed
    EXPECT_EQ(ShownAt(window.picture, 1, 0), kPalette[kRed]);

    // Hidden, the animation goes on; it plays once and then shows its last frame.
    window.picture->hide();
    QElapsedTimer playing;
    playing.start();
    while (TimingThreads() > 0 && playing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(TimingThreads(), 0);
    window.picture->show();
    EXPECT_EQ(ShownAt(window.picture, 1, 1), kPalette[kWhite]);
    EXPECT_EQ(ShownAt(window.picture, 3, 0), kWindowColor);
    window.picture->hide();
    window.picture->show();
    ProcessEventsFor(50);
    EXPECT_EQ(ShownAt(window.picture, 1, 1), kPalette[kWhite]);
}

TEST_F(WaitPictureTest, TheTimingThreadUsesNoProcessorWhileItWaits) {
    // The first frame stays for 65535 units, about 13 minutes.
    const auto animation = std::make_shared<const GifAnimation>(
        Animation(2, 1, {Frame(0, 0, 2, 1, kRed, 65535, 1), Frame(0, 0, 2, 1, kGreen, 3, 1)}));
    QObject receiver;
    auto player =
        std::make_unique<FramePlayer>(animation, QImage(2, 1, QImage::Format_ARGB32), &receiver, nullptr);
    player->ServeUntilFirstFrame();
    EXPECT_EQ(player->FrameBitmap().pixel(0, 0), kPalette[kRed]);

    clockid_t clock;
    ASSERT_EQ(pthread_getcpuclockid(player->TimingThread(), &clock), 0);
    auto cpuMs = [clock] {
        timespec time{};
        clock_gettime(clock, &time);
        return time.tv_sec * 1000.0 + time.tv_nsec / 1e6;
    };
    std::this_thread::sleep_for(50ms);
    const double before = cpuMs();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(cpuMs() - before, 10.0);

    // Stopping ends the long wait at once.
    QElapsedTimer stopping;
    stopping.start();
    player.reset();
    EXPECT_LT(stopping.elapsed(), 500);
}

TEST_F(WaitPictureTest, DestroyingTheWindowMidAnimationEndsTheThread) {
    for (int pause : {0, 100}) {
        auto window = std::make_unique<Window>();
        ASSERT_TRUE(window->picture->LoadFile(Colours(0)));
        window->show();
        window->picture->show();
        ASSERT_TRUE(WaitForTimingThread());
        ProcessEventsFor(100);
        // With a pause the thread is left waiting for a paint that the window will never do.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        QElapsedTimer destroying;
        destroying.start();
        window.reset();
        EXPECT_LT(destroying.elapsed(), 500) << pause;
        // The join returns once the thread has ended; the system drops its task entry a moment later.
        QElapsedTimer leaving;
        leaving.start();
        while (TimingThreads() > 0 && leaving.elapsed() < 1000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(TimingThreads(), 0) << pause;
        // Paint requests still queued are dropped with the window.
        ProcessEventsFor(50);
    }
}

TEST_F(WaitPictureTest, AStillPictureAndFilesThatCannotBeRead) {
    Window window;
    const QString still = WriteGif(folder, QStringLiteral("still.gif"),
                                   Animation(3, 2, {Frame(0, 0, 3, 2, kBlue, 0, 0, {{0, 0}})}));
    ASSERT_TRUE(window.picture->LoadFile(still));
    EXPECT_EQ(window.picture->size(), QSize(3, 2));
    window.show();
    window.picture->show();
    ProcessEventsFor(50);
    EXPECT_EQ(TimingThreads(), 0);
    const QImage shown = window.grab(window.picture->geometry()).toImage();
    EXPECT_EQ(shown.pixel(1, 0), kPalette[kBlue]);
    EXPECT_EQ(shown.pixel(0, 0), kSiblingColor);

    const QString garbage = folder.filePath(QStringLiteral("garbage.gif"));
    WriteAll(garbage, "not a picture at all");
    EXPECT_FALSE(window.picture->LoadFile(garbage));
    EXPECT_FALSE(window.picture->LoadFile(folder.filePath(QStringLiteral("missing.gif"))));
    const QImage empty = window.grab(window.picture->geometry()).toImage();
    EXPECT_EQ(empty.pixel(1, 0), kSiblingColor);
    EXPECT_EQ(empty.pixel(2, 1), kWindowColor);
}

TEST(WaitPictureFile, TheShippedPictureIsASmallEndlessAnimation) {
    const auto animation = DecodeGifFile(
        (qEnvironmentVariable("VORNEL_SOURCE_DIR") + QStringLiteral("/data/Res/wait.gif")).toStdString());
    ASSERT_TRUE(animation.has_value());
    EXPECT_LE(animation->width, 32);
    EXPECT_LE(animation->height, 20);
    ASSERT_GT(animation->frames.size(), 1u);
    EXPECT_EQ(animation->frames.front().loopCount, 0);
    for (const GifFrame& frame : animation->frames)
        EXPECT_TRUE(frame.HasImage() && frame.transparentIndex >= 0);
}

} // namespace
} // namespace vornel::app
