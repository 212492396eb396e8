#pragma once
// The main window's web panel: a browser view that shows the remote start page when it can be
// reached and the local page otherwise, and strips the body's scroll bars, border and margin
// after every finished load.

#include <QString>
#include <QWebEngineView>

namespace vornel::app {

class WebPanel : public QWebEngineView {
    Q_OBJECT
  public:
    explicit WebPanel(QWidget* parent = nullptr);

    // The start page: the remote address when a bounded TCP connection to its host on port 80
    // succeeds, else dataFolder + "Res/index.htm". Blocks for at most the bound.
    static QString ChooseStartPage(const QString& remoteUrl, const QString& dataFolder);

    // Navigates to a start page (an http URL or a local file path).
    void OpenStartPage(const QString& startPage);

  signals:
    // Emitted after the body adjustments of a finished load have been sent (tests wait on it).
    void documentAdjusted();

  private:
    void wbMainDocumentComplete();
};

} // namespace vornel::app
