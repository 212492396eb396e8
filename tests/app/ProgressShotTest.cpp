// The progress under the wait picture during a real make: the built package and disk tool on an
// image drive, with a large custom image so its copy takes long enough to be photographed.

#include "app/F_frmMain.h"
#include "support/RecordingMessages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace vornel::app {
namespace {

void SparseFile(const std::string& path, std::uint64_t bytes) {
    std::ofstream{path};
    std::filesystem::resize_file(path, bytes);
}

TEST(ProgressShot, AMakeShowsTheStepTheBarsTheSpeedAndTheTimeLeft) {
    QTemporaryDir folder;
    const std::string root = folder.path().toStdString() + "/";
    const std::string image = root + "stick.img";
    const std::string bigImage = root + "大镜像.iso";
    // Sparse files: the image drive, and an image large enough to take seconds to copy.
    SparseFile(image, std::uint64_t{2} << 30);
    SparseFile(bigImage, std::uint64_t{768} << 20);
    ::setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);

    const std::string data = root + "data/";
    QDir().mkpath(QString::fromStdString(data + "Res"));
    const QString source = qEnvironmentVariable("VORNEL_SOURCE_DIR") + QStringLiteral("/data/Res/");
    for (const char* name : {"index.htm", "wait.gif"})
        QFile::copy(source + name, QString::fromStdString(data + "Res/") + name);
    QFile::copy(qEnvironmentVariable("VORNEL_BUILD_DIR") + QStringLiteral("/test-data/Data.Vn"),
                QString::fromStdString(data + "Data.Vn"));
    std::ofstream(data + "isolist", std::ios::binary) << "大镜像|" << bigImage << "\r\n";
    QDir().mkpath(QString::fromStdString(root + "temp"));

    test::RecordingMessages boxes;
    boxes.answerYes = true;
    const auto drives = platform::CreateLinuxDriveQueries(platform::SystemDriveSources());
    TfrmMain window(
        {data, QStringLiteral("http://127.0.0.1:9/"), drives.get(), [&] { return root + "temp/"; }, {}, {}});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(1500); // let the local page render
    window.ScanUsbDisks();
    window.cbb_disk->setCurrentIndex(window.cbb_disk->findText("G:", Qt::MatchStartsWith));

    // Photographed once the copy of the large image is under way and its time left is known.
    QImage shot;
    QString step, timeLeft;
    int stepPercent = -1, totalPercent = -1;
    std::vector<int> totals;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const ProgressPanel& panel = *window.pnl_progress;
        if (!panel.isVisible())
            return;
        totals.push_back(panel.pb_total->value());
        if (shot.isNull() && panel.lbl_step->text().startsWith(QStringLiteral("正在复制自定义镜像")) &&
            !panel.lbl_timeLeft->text().isEmpty() && panel.pb_step->value() > 0 &&
            panel.pb_step->value() < 100) {
            shot = window.grab().toImage();
            step = panel.lbl_step->text();
            timeLeft = panel.lbl_timeLeft->text();
            stepPercent = panel.pb_step->value();
            totalPercent = panel.pb_total->value();
        }
    });
    watch.start(50);
    window.btn_makeClick();
    watch.stop();

    ASSERT_EQ(boxes.messages, QStringList{QStringLiteral("恭喜你，制作完成！")})
        << boxes.messages.join("\n").toStdString();
    EXPECT_FALSE(window.pnl_progress->isVisible());
    ASSERT_FALSE(shot.isNull()) << "the copy of the large image was never seen under way";
    EXPECT_TRUE(step.endsWith(QStringLiteral("大镜像.iso"))) << step.toStdString();
    EXPECT_TRUE(timeLeft.startsWith(QStringLiteral("剩余时间：约 "))) << timeLeft.toStdString();
    EXPECT_GT(totalPercent, 0);
    EXPECT_LT(totalPercent, 100);
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    const QString shots = qEnvironmentVariable("VORNEL_BUILD_DIR") + QStringLiteral("/screenshots");
    QDir().mkpath(shots);
    ASSERT_TRUE(shot.save(shots + QStringLiteral("/main-progress.png")));
    // The panel's band is drawn under the wait picture, over the background.
    const QRect band = window.pnl_progress->geometry();
    EXPECT_GT(band.top(), window.img_wait->geometry().bottom());
    EXPECT_NE(shot.copy(band), window.img_back.copy(band));
    ::unsetenv("VORNEL_DRIVES");
}

} // namespace
} // namespace vornel::app
