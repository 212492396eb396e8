#include "app/Application.h"

#include <QApplication>
#include <QIcon>

namespace vornel::app {

const VersionRecord& ProgramVersion() {
    static const VersionRecord record{
        QStringLiteral("Vornel"), QStringLiteral("1.5.0.2"),           QStringLiteral("VornelU盘装机"),
        QStringLiteral("1.5"),    QStringLiteral("一键制作USB启动盘"),
    };
    return record;
}

void ConfigureApplication() {
    const VersionRecord& record = ProgramVersion();
    QApplication::setApplicationName(QStringLiteral("vornel"));
    QApplication::setApplicationDisplayName(record.productName);
    QApplication::setApplicationVersion(record.fileVersion);
    QApplication::setOrganizationName(record.companyName);
    QApplication::setDesktopFileName(QStringLiteral("vornel"));
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
}

} // namespace vornel::app
