#include "app/Application.h"

#include "app/ChineseTexts.h"
#include "controls/Messages.h"

#include <QApplication>
#include <QIcon>

namespace vornel::app {

const VersionRecord& ProgramVersion() {
    static const VersionRecord record{
        QStringLiteral("Vornel"),
        QStringLiteral(VORNEL_VERSION),
        QStringLiteral("VornelU盘装机"),
        QStringLiteral(VORNEL_PRODUCT_VERSION),
        QStringLiteral("一键制作USB启动盘"),
    };
    return record;
}

void ConfigureApplication() {
    const VersionRecord& record = ProgramVersion();
    QApplication::setApplicationName(QStringLiteral("vornel"));
    controls::SetApplicationTitle(record.productName);
    QApplication::setApplicationVersion(record.fileVersion);
    QApplication::setOrganizationName(record.companyName);
    // The launcher's name: the Wayland app id. On X11 the window's class is the application
    // name, which the launcher names as its StartupWMClass.
    QApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QCoreApplication* application = QCoreApplication::instance();
    application->setProperty("CompanyName", record.companyName);
    application->setProperty("FileVersion", record.fileVersion);
    application->setProperty("ProductName", record.productName);
    application->setProperty("ProductVersion", record.productVersion);
    application->setProperty("Comments", record.comments);

    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/artwork/icon_%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    if (!InstallChineseTexts())
        qWarning("vornel: Qt's Chinese texts are missing (package qt6-translations-l10n): its own texts stay "
                 "English");
    // The file chooser is Qt's own, so it speaks the program's language whatever the desktop's.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

} // namespace vornel::app
