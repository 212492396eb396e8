#pragma once
// One program at a time per user. The first start holds a lock in the user's private folder and
// listens on a local socket beside it; a later start finds the lock taken, asks the running
// program to raise its window and ends. The lock is an flock, which the system drops when its
// holder dies, so a crash leaves nothing that blocks the next start; the socket file a crash
// leaves behind is removed by the next holder of the lock.

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>

namespace vornel::app {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // `folder`: the user's private folder (mode 0700), with or without a trailing "/".
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock and listens. False when another program holds the lock, or when the lock
    // cannot be had (the reason is then in ErrorText()). True once the lock is held, even when
    // listening failed (the reason is then in ErrorText() too).
    bool BecomePrimary();

    // Asks the program holding the lock to raise its window; true once it has answered that it
    // did. Gives up after `bound` (a program still starting gets that long to listen).
    bool AskPrimaryToRaise(std::chrono::milliseconds bound) const;

    QString ErrorText() const { return error_; }

  signals:
    // A later start asked for the window; the handler raises it before the answer goes back.
    void raiseRequested();

  private:
    void AnswerNextRequest();

    QString lockPath_;
    QString socketPath_;
    int lockFd_ = -1;
    QLocalServer server_;
    QString error_;
};

} // namespace vornel::app
