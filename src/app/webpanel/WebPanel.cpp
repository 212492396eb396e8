#include "app/webpanel/WebPanel.h"

#include "app/webpanel/ConnectionCheck.h"

#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace vornel::app {
namespace {

constexpr std::chrono::seconds kConnectionBound{3};
constexpr int kHttpPort = 80;

// The three body adjustments, in order, on the top-level document. One guard drops every error
// (no body, not an HTML document), so a failing step skips the rest without a word. This
// engine ignores body.scroll, so overflow is hidden as well to remove the scroll bars.
const char* const kBodyAdjustment = R"JS(
(function () {
    try {
        var body = document.body;
        body.scroll = "no";
        body.style.overflow = "hidden";
        body.style.border = "none";
        body.style.margin = "0px";
    } catch (ignored) {
    }
})();
)JS";

bool IsWebAddress(const QString& page) {
    return page.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
           page.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

} // namespace

WebPanel::WebPanel(QWidget* parent) : QWebEngineView(parent) {
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) { wbMainDocumentComplete(); });
}

QString WebPanel::ChooseStartPage(const QString& remoteUrl, const QString& dataFolder) {
    const QUrl remote(remoteUrl);
    const int port = remote.port(kHttpPort);
    // The encoded form: a host name in another script goes to the resolver in its ASCII form.
    const std::string host = remote.host(QUrl::FullyEncoded).toStdString();
    if (!host.empty() && port > 0 && CanConnectTcp(host, static_cast<std::uint16_t>(port), kConnectionBound))
        return remoteUrl;
    return dataFolder + QStringLiteral("Res/index.htm");
}

void WebPanel::OpenStartPage(const QString& startPage) {
    setUrl(IsWebAddress(startPage) ? QUrl(startPage) : QUrl::fromLocalFile(startPage));
}

void WebPanel::wbMainDocumentComplete() {
    // The result arrives after this call; the page may be gone by then.
    QPointer<WebPanel> panel(this);
    page()->runJavaScript(QString::fromUtf8(kBodyAdjustment), QWebEngineScript::ApplicationWorld,
                          [panel](const QVariant&) {
                              if (panel)
                                  emit panel->documentAdjusted();
                          });
}

} // namespace vornel::app
