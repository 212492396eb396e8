#include "app/webpanel/WebPanel.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <gtest/gtest.h>

// Under AddressSanitizer: the browser engine's own library frees some objects with a size that
// does not match their allocation; that check is off so that our code's errors still show.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

namespace vornel::app {
namespace {

// Keeps every console message of the pages, so an error escaping a script shows up.
class RecordingPage : public QWebEnginePage {
  public:
    using QWebEnginePage::QWebEnginePage;
    QStringList errors;

  protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int,
                                  const QString&) override {
        if (level == ErrorMessageLevel)
            errors << message;
    }
};

// What the top-level document looks like after the adjustments.
const char* const kReadBack = R"JS(
(function () {
    var body = document.body;
    var style = getComputedStyle(body);
    var frame = document.querySelector("iframe");
    var inner = frame ? getComputedStyle(frame.contentDocument.body).marginTop : "";
    return JSON.stringify({
        margin: style.marginTop + " " + style.marginRight + " " + style.marginBottom + " " + style.marginLeft,
        border: style.borderTopStyle + " " + style.borderLeftStyle,
        overflow: style.overflow,
        barWidth: window.innerWidth - document.scrollingElement.clientWidth,
        barHeight: window.innerHeight - document.scrollingElement.clientHeight,
        contentWidth: document.documentElement.scrollWidth,
        contentHeight: document.documentElement.scrollHeight,
        frameMargin: inner
    });
})();
)JS";

class WebPanelTest : public ::testing::Test {
  protected:
    WebPanelTest() {
        panel.setPage(page);
        panel.resize(723, 338);
        panel.show();
    }

    // Opens a page and waits until its adjustments have run.
    void Open(const QString& page) {
        QSignalSpy adjusted(&panel, &WebPanel::documentAdjusted);
        panel.OpenStartPage(page);
        ASSERT_TRUE(adjusted.wait(30000)) << page.toStdString();
    }

    QJsonObject ReadBack() {
        QString json;
        QEventLoop loop;
        panel.page()->runJavaScript(QString::fromUtf8(kReadBack), [&](const QVariant& result) {
            json = result.toString();
            loop.quit();
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        return QJsonDocument::fromJson(json.toUtf8()).object();
    }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir folder;
    WebPanel panel;
    RecordingPage* page = new RecordingPage(&panel);
};

TEST_F(WebPanelTest, TheLocalStartPageSitsFlushAndFitsThePanel) {
    Open(qEnvironmentVariable("VORNEL_SOURCE_DIR") + QStringLiteral("/data/Res/index.htm"));
    const QJsonObject state = ReadBack();
    EXPECT_EQ(state["margin"].toString(), QStringLiteral("0px 0px 0px 0px"));
    EXPECT_EQ(state["border"].toString(), QStringLiteral("none none"));
    EXPECT_EQ(state["overflow"].toString(), QStringLiteral("hidden"));
    // Designed for the panel: nothing would need scrolling even without the adjustments.
    EXPECT_LE(state["contentWidth"].toInt(), 723);
    EXPECT_LE(state["contentHeight"].toInt(), 338);
    EXPECT_EQ(state["barWidth"].toInt(), 0);
    EXPECT_EQ(state["barHeight"].toInt(), 0);
    EXPECT_TRUE(page->errors.isEmpty()) << page->errors.join('\n').toStdString();
}

TEST_F(WebPanelTest, InlineSettingsBeatThePageStyleAndFramesKeepTheirOwnBody) {
    // A page whose own style sheet sets margin and border, long enough to need scroll bars.
    Open(Write(QStringLiteral("styled.htm"),
               "<html><head><style>body { margin: 30px; border: 6px solid red; }</style></head>"
               "<body><div style='height:3000px;width:3000px'>tall</div></body></html>"));
    QJsonObject state = ReadBack();
    EXPECT_EQ(state["margin"].toString(), QStringLiteral("0px 0px 0px 0px"));
    EXPECT_EQ(state["border"].toString(), QStringLiteral("none none"));
    EXPECT_EQ(state["barWidth"].toInt(), 0);
    EXPECT_EQ(state["barHeight"].toInt(), 0);

    // A page with a frame: the top-level body is adjusted, the frame's own body is left alone.
    Open(Write(QStringLiteral("frames.htm"),
               "<html><body style='margin: 20px'>"
               "<iframe srcdoc=\"<body style='margin: 25px'>inner</body>\"></iframe></body></html>"));
    state = ReadBack();
    EXPECT_EQ(state["margin"].toString(), QStringLiteral("0px 0px 0px 0px"));
    EXPECT_EQ(state["frameMargin"].toString(), QStringLiteral("25px"));
    EXPECT_TRUE(page->errors.isEmpty()) << page->errors.join('\n').toStdString();
}

TEST_F(WebPanelTest, DocumentsWithoutBodyOrFileRaiseNothing) {
    // An SVG picture has no body; a frameset's body is the frameset; the last file is missing.
    Open(Write(QStringLiteral("picture.svg"),
               "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
               "<rect width='40' height='40' fill='blue'/></svg>"));
    Write(QStringLiteral("left.htm"), "<body>left</body>");
    Open(Write(QStringLiteral("frameset.htm"), "<html><frameset cols='50%,50%'><frame src='left.htm'>"
                                               "<frame src='left.htm'></frameset></html>"));
    Open(folder.filePath(QStringLiteral("missing.htm")));
    EXPECT_TRUE(page->errors.isEmpty()) << page->errors.join('\n').toStdString();
}

} // namespace
} // namespace vornel::app
