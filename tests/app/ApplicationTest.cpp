#include "app/Application.h"

#include <QApplication>
#include <QIcon>
#include <gtest/gtest.h>

namespace vornel::app {
namespace {

TEST(ApplicationTest, IdentityAndVersionRecord) {
    ConfigureApplication();
    EXPECT_EQ(QApplication::applicationDisplayName(), QStringLiteral("VornelU盘装机"));
    EXPECT_EQ(QApplication::applicationVersion(), QStringLiteral("1.5.0.2"));
    EXPECT_EQ(QApplication::organizationName(), QStringLiteral("Vornel"));
    const QCoreApplication* application = QCoreApplication::instance();
    EXPECT_EQ(application->property("CompanyName").toString(), QStringLiteral("Vornel"));
    EXPECT_EQ(application->property("ProductName").toString(), QStringLiteral("VornelU盘装机"));
    EXPECT_EQ(application->property("ProductVersion").toString(), QStringLiteral("1.5"));
    EXPECT_EQ(application->property("FileVersion").toString(), QStringLiteral("1.5.0.2"));
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_TRUE(QApplication::windowIcon().availableSizes().contains(QSize(256, 256)));
}

} // namespace
} // namespace vornel::app
