// The main window's own wiring, through the real window and the real message boxes: what the
// buttons start, what reaches the disk tool, and that the window is serviced while it works.

#include "PackageWriter.h"
#include "app/F_frmConfig.h"
#include "app/F_frmMain.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace vornel::app {
namespace {

class OneStick final : public platform::DriveQueries {
  public:
    std::uint32_t LogicalDrives() override { return 1u << ('G' - 'A'); }
    bool IsRemovable(char letter) override { return letter == 'G'; }
    std::optional<std::string> VolumeLabel(char) override { return "STICK"; }
    std::optional<std::int64_t> TotalBytes(char) override { return std::int64_t{8} << 30; }
    std::optional<platform::DeviceIdentity> Identity(char) override {
        return platform::DeviceIdentity{"Generic", "Flash Disk"};
    }
};

// A modal window that showed up while a handler ran, and how it was answered.
struct SeenBox {
    QString className;
    QString text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

class WindowGlueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data = folder.path().toStdString() + "/data/";
        std::filesystem::create_directories(data);
        mkpackage::PackageWriter writer(data + "Data.Vn");
        writer.AddBytes("fbinst.exe", "not run: the test's runner stands in for it", 0x20);
        writer.AddBytes("filelist", "menu.lst\r\n", 0x20);
        writer.AddBytes("defMenu.txt", "timeout 0\r\n", 0x20);
        writer.AddBytes("menu.lst", "old\r\n", 0x20);
        writer.Finish();

        MainWindowSetup setup{data,
                              QStringLiteral("http://127.0.0.1:9/"),
                              &drives,
                              [this] { return folder.path().toStdString() + "/"; },
                              [this](const std::string& line, const std::function<void()>& pump,
                                     const builder::ProgressListener&) {
                                  lines.push_back(line);
                                  bool serviced = false;
                                  QTimer::singleShot(0, [&serviced] { serviced = true; });
                                  pump();
                                  servicedDuringTool = servicedDuringTool || serviced;
                                  platform::ProcessOutcome outcome;
                                  outcome.started = outcome.exited = true;
                                  return outcome;
                              },
                              folder.path().toStdString() + "/logs/"};
        window = std::make_unique<TfrmMain>(setup);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

        // Modal windows block the click that opened them: a timer answers them from inside.
        OnTimeout(&answerer, [this] { AnswerModal(); });
        answerer.start(20);
        // Ticks while the window is busy before any box showed: the extraction's stretch.
        OnTimeout(&extractionTicker, [this] { extractionTicks += window->Busy() && seen.empty(); });
        extractionTicker.start(0);
    }

    static void OnTimeout(QTimer* timer, std::function<void()> handler) {
        QObject::connect(timer, &QTimer::timeout, std::move(handler));
    }

    void AnswerModal() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        SeenBox box{QString::fromLatin1(modal->metaObject()->className()), {}, QMessageBox::NoButton};
        if (auto* message = qobject_cast<QMessageBox*>(modal)) {
            box.text = message->text();
            box.defaultButton = message->standardButton(message->defaultButton());
            QAbstractButton* answer = message->button(QMessageBox::Ok);
            if (!answer) {
                answer = message->button(confirmAnswer);
                SavePicture(*message, "make-warning.png");
            }
            answer->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
        seen.push_back(box);
    }

    // The warning as the user sees it goes under the build tree, beside the other screenshots.
    static void SavePicture(QWidget& widget, const char* name) {
        const QString folder = qEnvironmentVariable("VORNEL_BUILD_DIR") + QStringLiteral("/screenshots/");
        if (QDir().mkpath(folder))
            widget.grab().save(folder + QString::fromLatin1(name));
    }

    // A bitmap button takes a press only in the active window, as after the user's first click.
    void Click(QWidget* button) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    }

    QTemporaryDir folder;
    std::string data;
    OneStick drives;
    std::unique_ptr<TfrmMain> window;
    QTimer answerer, extractionTicker;
    QMessageBox::StandardButton confirmAnswer = QMessageBox::Yes;
    std::vector<SeenBox> seen;
    std::vector<std::string> lines;
    int extractionTicks = 0;
    bool servicedDuringTool = false;
};

TEST_F(WindowGlueTest, MakeWarnsWithNoAsDefaultPassesUsbZipAndKeepsTheWindowServiced) {
    const QString drive = window->cbb_disk->currentText();
    ASSERT_TRUE(drive.startsWith(QStringLiteral("G:"))) << drive.toStdString();
    window->rb_zip->click();
    Click(window->btn_make);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].className, QStringLiteral("QMessageBox"));
    EXPECT_EQ(seen[0].defaultButton, QMessageBox::No);
    EXPECT_TRUE(seen[0].text.endsWith(QStringLiteral("\n") + drive)) << seen[0].text.toStdString();
    EXPECT_EQ(seen[1].text, QStringLiteral("恭喜你，制作完成！"));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find(" format -f -a  -z -p 8m"), std::string::npos) << lines[0];
    EXPECT_GT(extractionTicks, 0);
    EXPECT_TRUE(servicedDuringTool);
    EXPECT_FALSE(window->Busy());

    // No on the warning: nothing reaches the tool.
    seen.clear();
    lines.clear();
    confirmAnswer = QMessageBox::No;
    window->rb_hdd->click();
    Click(window->btn_make);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(lines.empty());
}

TEST_F(WindowGlueTest, TheConfigButtonOpensTheItemDialog) {
    Click(window->btn_config);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].className, QString::fromLatin1(TfrmConfig::staticMetaObject.className()));
}

TEST_F(WindowGlueTest, AnImageOf4GiBIsRefusedBeforeTheWarningAndTheMessageNamesTheLog) {
    const std::string image = folder.path().toStdString() + "/big.img"; // only an ISO gets a partition
    std::ofstream(image).close();
    std::filesystem::resize_file(image, std::uintmax_t{4} << 30); // sparse
    std::ofstream(data + "isolist", std::ios::binary) << "big|" << image << "\r\n";
    Click(window->btn_make);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].text.startsWith(QString::fromStdString("文件:" + image + " 太大（4GB或以上）")))
        << seen[0].text.toStdString();
    EXPECT_TRUE(lines.empty());
    const QString logLine = QStringLiteral("\n详细记录见日志文件 ");
    const qsizetype named = seen[0].text.indexOf(logLine);
    ASSERT_GE(named, 0) << seen[0].text.toStdString();
    const std::string log = seen[0].text.mid(named + logLine.size()).toStdString();
    EXPECT_TRUE(log.starts_with(folder.path().toStdString() + "/logs/")) << log;
    EXPECT_TRUE(std::filesystem::is_regular_file(log)) << log;
}

} // namespace
} // namespace vornel::app
