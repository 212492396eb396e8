#include "app/F_frmMain.h"
#include "support/RecordingMessages.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>

namespace vornel::app {
namespace {

// One removable drive G: with a medium, as the drive list would see a plugged-in stick.
class OneStick final : public platform::DriveQueries {
  public:
    std::uint32_t LogicalDrives() override { return (1u << 2) | (1u << ('G' - 'A')); }
    bool IsRemovable(char letter) override { return letter == 'G'; }
    std::optional<std::string> VolumeLabel(char) override { return "BOOTSTICK"; }
    std::optional<std::int64_t> TotalBytes(char) override { return std::int64_t{8} * 1000 * 1000 * 1000; }
    std::optional<platform::DeviceIdentity> Identity(char) override {
        return platform::DeviceIdentity{"Generic", "Flash Disk"};
    }
};

// A data folder holding the web panel's local page and the wait picture of the source tree.
class DataFolder {
  public:
    DataFolder() {
        const QString source = qEnvironmentVariable("VORNEL_SOURCE_DIR") + QStringLiteral("/data/Res/");
        QDir(folder_.path()).mkpath(QStringLiteral("Res"));
        for (const char* name : {"index.htm", "wait.gif"})
            QFile::copy(source + name, folder_.path() + QStringLiteral("/Res/") + name);
    }
    std::string Path() const { return folder_.path().toStdString() + "/"; }

  private:
    QTemporaryDir folder_;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Nothing listens on this loopback port, so the local page is chosen at once.
        setup = {data.Path(), QStringLiteral("http://127.0.0.1:9/"), &drives, {}, {}, {}};
        window = std::make_unique<TfrmMain>(setup);
    }

    test::RecordingMessages boxes;
    OneStick drives;
    DataFolder data;
    MainWindowSetup setup;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(MainWindowTest, LayoutTableAndCreation) {
    TfrmMain& w = *window;
    EXPECT_EQ(w.size(), QSize(800, 600));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.img_back.size(), QSize(800, 600));

    EXPECT_EQ(w.wbMain->geometry(), QRect(38, 112, 723, 338));
    EXPECT_EQ(w.btn_make->geometry(), QRect(176, 508, 135, 30));
    EXPECT_EQ(w.btn_config->geometry(), QRect(332, 508, 135, 30));
    EXPECT_EQ(w.btn_clean->geometry(), QRect(488, 508, 135, 30));
    EXPECT_EQ(w.btn_close->geometry(), QRect(767, 4, 29, 29));
    EXPECT_EQ(w.btn_min->geometry(), QRect(737, 4, 28, 29));
    EXPECT_EQ(w.cbb_disk->geometry(), QRect(189, 480, 425, 20));
    EXPECT_EQ(w.rb_hdd->geometry(), QRect(624, 472, 73, 17));
    EXPECT_EQ(w.rb_zip->geometry(), QRect(624, 488, 73, 17));
    EXPECT_EQ(w.lbl_wait->geometry(), QRect(296, 546, 210, 14));
    EXPECT_EQ(w.img_wait->pos(), QPoint(264, 544));

    EXPECT_EQ(w.btn_make->Caption(), "一键制成USB启动盘");
    EXPECT_EQ(w.btn_config->Caption(), "U盘启动项配置");
    EXPECT_EQ(w.btn_clean->Caption(), "归还U盘空间");
    EXPECT_EQ(w.btn_close->Caption(), "");
    EXPECT_EQ(w.btn_min->Caption(), "");
    EXPECT_EQ(w.lbl_wait->text(), QStringLiteral("正在制作U盘启动系统，请等待..."));
    EXPECT_EQ(w.rb_hdd->text(), QStringLiteral("USB-HDD"));
    EXPECT_EQ(w.rb_zip->text(), QStringLiteral("USB-ZIP"));
    EXPECT_TRUE(w.rb_hdd->isChecked());
    EXPECT_FALSE(w.rb_zip->isChecked());
    EXPECT_FALSE(w.cbb_disk->isEditable());
    ASSERT_EQ(w.cbb_disk->count(), 1);
    EXPECT_EQ(w.cbb_disk->currentText(), QStringLiteral("请插入U盘！"));

    // Captions and the window use a face that has Chinese glyphs, at the layout's heights.
    for (QWidget* control : std::initializer_list<QWidget*>{&w, w.btn_make, w.lbl_wait}) {
        const QFontInfo face(control->font());
        EXPECT_TRUE(QFontMetrics(control->font()).inFont(QChar(0x76D8))) << face.family().toStdString();
    }
    EXPECT_EQ(w.btn_make->font().pixelSize(), 12);
    EXPECT_EQ(w.btn_make->FontColor(), QColor(Qt::white));
    EXPECT_EQ(w.lbl_wait->font().pixelSize(), 14);
    EXPECT_EQ(w.lbl_wait->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_FALSE(w.lbl_wait->autoFillBackground());

    EXPECT_EQ(w.btn_make->Bitmaps().TransparentColor(), controls::kClOlive);
    EXPECT_TRUE(w.btn_close->Bitmaps().Has(controls::Face::Disabled));
    EXPECT_FALSE(w.btn_min->Bitmaps().Has(controls::Face::Disabled));
    EXPECT_TRUE(w.btn_min->Bitmaps().Has(controls::Face::Hot));

    // Tab order: the named controls in the order they first appear in the focus chain.
    const std::vector<QWidget*> expected{w.wbMain,  w.btn_make, w.btn_config, w.btn_clean, w.btn_close,
                                         w.btn_min, w.cbb_disk, w.rb_hdd,     w.rb_zip};
    std::vector<QWidget*> seen;
    QWidget* step = w.wbMain;
    for (int guard = 0; guard < 200 && seen.size() < expected.size();
         ++guard, step = step->nextInFocusChain())
        if (std::find(expected.begin(), expected.end(), step) != expected.end() &&
            std::find(seen.begin(), seen.end(), step) == seen.end())
            seen.push_back(step);
    EXPECT_EQ(seen, expected);

    // What the creation handler leaves.
    EXPECT_EQ(w.DataFolder(), setup.dataFolder);
    EXPECT_EQ(w.StartPage(), QString::fromStdString(setup.dataFolder) + QStringLiteral("Res/index.htm"));
    EXPECT_FALSE(w.Busy());
    EXPECT_FALSE(w.lbl_wait->isVisibleTo(&w));
    EXPECT_FALSE(w.img_wait->isVisibleTo(&w));
    EXPECT_EQ(w.tmr->interval(), 2000);
    EXPECT_TRUE(w.tmr->isActive());
    EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(MainWindowTest, BusyStateBothWaysAndClosing) {
    TfrmMain& w = *window;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(700); // without a restart the period would now have at most 1300 ms left

    w.SetBusy(true);
    EXPECT_TRUE(w.Busy());
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.cbb_disk, w.btn_make, w.btn_config, w.btn_clean, w.btn_close})
        EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
    for (QWidget* control : std::initializer_list<QWidget*>{w.btn_min, w.rb_hdd, w.rb_zip, w.wbMain})
        EXPECT_TRUE(control->isEnabled());
    EXPECT_TRUE(w.img_wait->isVisible());
    EXPECT_TRUE(w.lbl_wait->isVisible());
    EXPECT_FALSE(w.tmr->isActive());

    // Closing from elsewhere (the close button is disabled) is refused with the message.
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(boxes.messages.size(), 1);
    EXPECT_EQ(boxes.messages[0], QStringLiteral("正在制作中，请不要退出本程序！"));
    boxes.messages.clear();

    // The mode can be switched and the window minimised while busy.
    w.rb_zip->click();
    EXPECT_TRUE(w.rb_zip->isChecked());
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::mouseClick(w.btn_min, Qt::LeftButton, Qt::NoModifier, QPoint(14, 14));
    EXPECT_TRUE(w.isMinimized());
    w.showNormal();

    w.SetBusy(false);
    EXPECT_FALSE(w.Busy());
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.cbb_disk, w.btn_make, w.btn_config, w.btn_clean, w.btn_close})
        EXPECT_TRUE(control->isEnabled());
    EXPECT_FALSE(w.img_wait->isVisible());
    EXPECT_FALSE(w.lbl_wait->isVisible());
    ASSERT_TRUE(w.tmr->isActive());
    EXPECT_GT(w.tmr->remainingTime(), 1500) << "the next scan comes a full period after leaving";

    bool canClose = true;
    w.FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_TRUE(boxes.messages.isEmpty());
    w.btn_closeClick();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(boxes.errors.isEmpty());
}

// Neutral grey pixels: the disabled caption's etching (the blue face and white captions have
// none, not even where the text is smoothed).
int EtchedPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.red() >= 100 && pixel.red() <= 160 && std::abs(pixel.red() - pixel.green()) < 12 &&
                     std::abs(pixel.green() - pixel.blue()) < 12;
        }
    return count;
}

TEST_F(MainWindowTest, ShownCentredScannedAndRenderedIdleAndBusy) {
    TfrmMain& w = *window;
    EXPECT_EQ(w.cbb_disk->currentText(), QStringLiteral("请插入U盘！"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.frameGeometry().center(), w.screen()->geometry().center());
    ASSERT_EQ(w.cbb_disk->count(), 1);
    EXPECT_TRUE(w.cbb_disk->currentText().startsWith(QStringLiteral("G:")))
        << w.cbb_disk->currentText().toStdString();

    QTest::qWait(1500); // let the local page render
    const QString folder = qEnvironmentVariable("VORNEL_BUILD_DIR") + QStringLiteral("/screenshots");
    QDir().mkpath(folder);
    const QImage idle = w.grab().toImage();
    ASSERT_TRUE(idle.save(folder + QStringLiteral("/main-idle.png")));

    w.SetBusy(true);
    QTest::qWait(300);
    const QImage busy = w.grab().toImage();
    ASSERT_TRUE(busy.save(folder + QStringLiteral("/main-busy.png")));

    const QRect makeButton = w.btn_make->geometry();
    EXPECT_EQ(EtchedPixels(idle, makeButton), 0);
    EXPECT_GT(EtchedPixels(busy, makeButton), 20);
    // The pictures themselves do not change: Disabled holds the same pixels as Up.
    EXPECT_EQ(idle.pixelColor(makeButton.left() + 4, makeButton.top() + 3),
              busy.pixelColor(makeButton.left() + 4, makeButton.top() + 3));
    // The wait picture was loaded and shows while busy.
    const QRect waitPicture = w.img_wait->geometry();
    EXPECT_NE(idle.copy(waitPicture), busy.copy(waitPicture));
    // The wait text shows in white over the bottom band while busy.
    bool whiteText = false;
    for (int x = 296; x < 506 && !whiteText; ++x)
        for (int y = 546; y < 560 && !whiteText; ++y)
            whiteText = qRed(busy.pixel(x, y)) > 240 && qGreen(busy.pixel(x, y)) > 240 &&
                        qBlue(busy.pixel(x, y)) > 240;
    EXPECT_TRUE(whiteText);
    w.SetBusy(false);
}

} // namespace
} // namespace vornel::app
