#include "app/Application.h"
#include "app/SingleInstance.h"
#include "controls/Messages.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vornel::app {
namespace {

using namespace std::chrono_literals;

TEST(ApplicationTest, IdentityAndVersionRecord) {
    ConfigureApplication();
    EXPECT_EQ(controls::ApplicationTitle(), QStringLiteral("VornelU盘装机"));
    // Qt's display name would be appended to the confirmation's caption "警告" on X11.
    EXPECT_EQ(QApplication::applicationDisplayName(), QApplication::applicationName());
    EXPECT_EQ(QApplication::applicationVersion(), QStringLiteral(VORNEL_VERSION));
    EXPECT_EQ(QApplication::organizationName(), QStringLiteral("Vornel"));
    const QCoreApplication* application = QCoreApplication::instance();
    EXPECT_EQ(application->property("CompanyName").toString(), QStringLiteral("Vornel"));
    EXPECT_EQ(application->property("ProductName").toString(), QStringLiteral("VornelU盘装机"));
    EXPECT_EQ(application->property("ProductVersion").toString(), QStringLiteral(VORNEL_PRODUCT_VERSION));
    EXPECT_EQ(application->property("FileVersion").toString(), QStringLiteral(VORNEL_VERSION));
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_TRUE(QApplication::windowIcon().availableSizes().contains(QSize(256, 256)));
}

TEST(ApplicationTest, QtsOwnTextsAreChinese) {
    ConfigureApplication();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("是")));
    EXPECT_TRUE(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("否")));

    EXPECT_TRUE(QApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
    QFileDialog chooser;
    const auto* buttons = chooser.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr) << "Qt's own file chooser";
    EXPECT_TRUE(buttons->button(QDialogButtonBox::Cancel)->text().startsWith(QStringLiteral("取消")));
}

TEST(ApplicationTest, LauncherNamesTheWindowsClassAndAppId) {
    ConfigureApplication();
    const QString launcher = qEnvironmentVariable("VORNEL_SOURCE_DIR") + QStringLiteral("/packaging/") +
                             QApplication::desktopFileName() + QStringLiteral(".desktop");
    QFile file(launcher);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << launcher.toStdString();
    // X11 gives a Qt window the application name as its class.
    const QString entry = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(entry.contains(QStringLiteral("\nStartupWMClass=") + QApplication::applicationName() +
                               QLatin1Char('\n')));
}

// A socket file with no program behind it, as a crash leaves it.
void LeaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof(address.sun_path));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(SingleInstanceTest, OneHoldsTheLockOthersAskItToRaiseAndACrashLeavesNothingInTheWay) {
    QTemporaryDir folder;
    LeaveStaleSocket(folder.filePath(QStringLiteral("vornel.socket")));
    const SingleInstance nobodyThere(folder.path());
    EXPECT_FALSE(nobodyThere.AskPrimaryToRaise(300ms));

    auto first = std::make_unique<SingleInstance>(folder.path());
    ASSERT_TRUE(first->BecomePrimary()) << first->ErrorText().toStdString();
    int raises = 0;
    QObject::connect(first.get(), &SingleInstance::raiseRequested, [&raises] { ++raises; });

    SingleInstance second(folder.path());
    EXPECT_FALSE(second.BecomePrimary());
    EXPECT_TRUE(second.ErrorText().isEmpty()) << "another program runs: not an error";
    std::atomic<int> answered{-1};
    std::thread asking([&] { answered = second.AskPrimaryToRaise(10s) ? 1 : 0; });
    // The answer needs this thread's event loop, as the running program's window has it.
    for (QDeadlineTimer deadline(15s); answered < 0 && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    asking.join();
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(raises, 1);

    first.reset(); // the lock goes with its holder
    SingleInstance next(folder.path());
    EXPECT_TRUE(next.BecomePrimary());
}

} // namespace
} // namespace vornel::app
