#include "app/ChineseTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWebEngineProfile>

namespace vornel::app {

namespace {

const char* const kEngineFlags = "QTWEBENGINE_CHROMIUM_FLAGS";

// Loads one of Qt's catalogues into a translator the application owns.
bool InstallCatalogue(const QString& name) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace

void PrepareChineseWebEngine() {
    QByteArray flags = qgetenv(kEngineFlags);
    if (flags.contains("--lang="))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    qputenv(kEngineFlags, flags + "--lang=zh-CN");
}

bool InstallChineseTexts() {
    // qtbase: dialogs and message boxes; qtwebengine: the page's context menu actions.
    const bool base = InstallCatalogue(QStringLiteral("qtbase_zh_CN"));
    InstallCatalogue(QStringLiteral("qtwebengine_zh_CN"));
    return base;
}

void AskForChinesePages() {
    QWebEngineProfile::defaultProfile()->setHttpAcceptLanguage(QStringLiteral("zh-CN,zh"));
}

} // namespace vornel::app
