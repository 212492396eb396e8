#pragma once
// A message sink for tests: records every box and answers confirmations as told.

#include "controls/Messages.h"

#include <QStringList>

namespace vornel::test {

class RecordingMessages final : public controls::MessageSink {
  public:
    RecordingMessages() { controls::SetMessageSink(this); }
    ~RecordingMessages() override { controls::SetMessageSink(nullptr); }

    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
    bool ConfirmWarning(QWidget*, const QString& text) override {
        confirmations << text;
        return answerYes;
    }
    void ShowError(QWidget*, const QString& text) override { errors << text; }

    QStringList messages;
    QStringList confirmations;
    QStringList errors;
    bool answerYes = false;
};

} // namespace vornel::test
