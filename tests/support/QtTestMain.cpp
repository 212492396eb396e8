// Test main for widget tests: one QApplication for the whole run, offscreen unless told otherwise.
#include "controls/Messages.h"

#include <QApplication>
#include <QtGlobal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    vornel::controls::SetApplicationTitle(QStringLiteral("VornelU盘装机"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
