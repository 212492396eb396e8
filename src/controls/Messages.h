#pragma once
// The one seam through which every message box of the program passes, so tests can read what
// was shown and answer confirmations. The default sink shows Qt message boxes.

#include "failure/ChineseText.h"

#include <QString>
#include <exception>

class QWidget;

namespace vornel::controls {

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Plain message: modal, captioned with the application title, one OK button.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // Confirmation: caption "警告", Yes and No, warning icon, No the default. True for Yes.
    virtual bool ConfirmWarning(QWidget* parent, const QString& text) = 0;
    // The general error report: an error box captioned with the application title.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
};

// The sink in use.
MessageSink& Messages();

// The application title: the main window's title and the caption of plain messages and error
// reports. It is not Qt's display name, which X11 window titles would get appended to, so that a
// confirmation is captioned "警告" and nothing more.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Installs a sink (tests); nullptr restores the message boxes.
void SetMessageSink(MessageSink* sink);

// The text of the general error report: the message with a full stop added when its last
// character sorts after ".", unless it already ends a Chinese sentence ("。", "！", "？").
QString ErrorReportText(const QString& message);

// Runs a handler; an exception that leaves it becomes the general error report (a failure of the
// core in its Chinese text), and the program carries on. Exceptions never cross the Qt event loop.
template <class Handler> void Guarded(QWidget* parent, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        Messages().ShowError(parent, ErrorReportText(QString::fromStdString(failure::UserText(error))));
    }
}

} // namespace vornel::controls
