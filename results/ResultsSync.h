#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <chrono>
#include <string>

#include "DatabaseAddress.h"
#include "ResultsStore.h"

namespace vitalon::results {

class SqlResultsStore;

// What one round of sending the queue did.
struct SyncRound {
    int sent = 0;       // runs the server now has that it did not before (or already had)
    int queued = 0;     // runs still waiting in the local store
    std::string error;  // why the round stopped early; empty when it did not
};

// Sends every run of `local` not yet sent to `server`, oldest first, marking
// each sent once the server has it (a run the server already has counts as
// sent: a resend after a lost mark is harmless). Stops at the first run the
// server does not take; that run and the rest stay queued. Runs on the
// calling thread.
SyncRound sendQueued(SqlResultsStore& local, ResultsStore& server);

// Sends the local store's queue to a shared PostgreSQL server in rounds, on a
// thread of its own with its own connections (a Qt SQL connection belongs to
// one thread), so that a server that is slow or down never holds up the
// caller's event loop: the caller only ever sees signals.
class ResultsSync : public QObject {
    Q_OBJECT

public:
    // A server that does not answer within `connectTimeoutSeconds` ends the
    // round with the runs still queued.
    ResultsSync(QString localFile, ServerAddress server, int connectTimeoutSeconds = 5,
                QObject* parent = nullptr);
    // Waits for a round in progress; the connect and statement bounds keep
    // that short.
    ~ResultsSync() override;

    // A round as soon as the thread is free; returns at once.
    void syncNow();
    // A round now and then one every `interval`.
    void startPeriodic(std::chrono::milliseconds interval = std::chrono::minutes(1));

    // The queue's length after the last round; -1 before the first one ends.
    int queueLength() const { return queueLength_; }
    // Why the last round stopped early; empty when it did not.
    const QString& lastError() const { return lastError_; }

signals:
    // After every round: the runs sent, the runs still queued (-1 when the
    // local store could not be read) and why the round stopped early, if it
    // did (never with a password in it).
    void roundFinished(int sent, int queued, const QString& error);
    // When the known queue length changes, for a status bar or stderr.
    void queueLengthChanged(int length);

private:
    void takeRound(int sent, int queued, const QString& error);

    QThread thread_;
    QObject* worker_ = nullptr;  // lives on thread_
    int queueLength_ = -1;
    QString lastError_;
};

}  // namespace vitalon::results
