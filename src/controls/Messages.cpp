#include "controls/Messages.h"

#include <QMessageBox>
#include <QRegularExpression>

namespace vornel::controls {

namespace {

// A lone carriage return breaks the line in the texts; Qt's labels break only at a line feed.
QString Displayed(QString text) {
    static const QRegularExpression loneReturn(QStringLiteral("\\r(?!\\n)"));
    return text.replace(loneReturn, QStringLiteral("\n"));
}

class BoxSink final : public MessageSink {
  public:
    void ShowMessage(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), Displayed(text), QMessageBox::Ok, parent);
        box.exec();
    }
    bool ConfirmWarning(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), Displayed(text),
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    void ShowError(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), Displayed(text), QMessageBox::Ok, parent);
        box.exec();
    }
};

QString& TitleText() {
    static QString title;
    return title;
}

BoxSink boxes;
MessageSink* current = &boxes;

} // namespace

void SetApplicationTitle(const QString& title) {
    TitleText() = title;
}

QString ApplicationTitle() {
    return TitleText();
}

MessageSink& Messages() {
    return *current;
}

void SetMessageSink(MessageSink* sink) {
    current = sink ? sink : &boxes;
}

QString ErrorReportText(const QString& message) {
    static const QString chineseEnds = QStringLiteral("。！？");
    if (!message.isEmpty() && message.back() > QChar('.') && !chineseEnds.contains(message.back()))
        return message + QChar('.');
    return message;
}

} // namespace vornel::controls
