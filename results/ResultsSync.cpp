#include "ResultsSync.h"

#include <QMetaObject>
#include <QTimer>
#include <functional>

#include "SqlResultsStore.h"

namespace vitalon::results {

SyncRound sendQueued(SqlResultsStore& local, ResultsStore& server) {
    SyncRound round;
    const auto unsent = local.unsentRuns();
    if (!unsent.ok()) {
        round.error = unsent.error;
    }
    for (const std::string& uuid : unsent.value) {
        const auto found = local.run(uuid);
        if (!found.ok()) {
            round.error = found.error;
            break;
        }
        if (!found.value) {
            continue;  // gone since it was listed
        }
        const StoreResult stored = server.store(*found.value);
        if (stored.status == StoreStatus::Failed) {
            round.error = stored.error;
            break;
        }
        if (std::string error = local.markSent(uuid); !error.empty()) {
            round.error = std::move(error);
            break;
        }
        ++round.sent;
    }
    const auto queued = local.unsentCount();
    round.queued = queued.value;
    if (!queued.ok() && round.error.empty()) {
        round.error = queued.error;
    }
    return round;
}

namespace {

// The part of ResultsSync that lives on its thread: it opens its own
// connections for each round, so a server that went away and came back is
// simply connected to again.
class SyncWorker : public QObject {
public:
    SyncWorker(QString localFile, ServerAddress server, int connectTimeoutSeconds)
        : localFile_(std::move(localFile)),
          server_(std::move(server)),
          connectTimeoutSeconds_(connectTimeoutSeconds) {}

    std::function<void(int, int, const QString&)> report;

    void round() {
        SyncRound result;
        auto local = SqlResultsStore::openLocal(localFile_);
        if (!local.store) {
            report(0, -1, QString::fromStdString(local.error));
            return;
        }
        const auto queued = local.store->unsentCount();
        if (queued.ok() && queued.value == 0) {
            report(0, 0, {});
            return;
        }
        auto server = SqlResultsStore::openServer(server_, connectTimeoutSeconds_);
        if (!server.store) {
            report(0, queued.value, QString::fromStdString(server.error));
            return;
        }
        result = sendQueued(*local.store, *server.store);
        report(result.sent, result.queued, QString::fromStdString(result.error));
    }

    void startTimer(std::chrono::milliseconds interval) {
        if (timer_ == nullptr) {
            timer_ = new QTimer(this);
            connect(timer_, &QTimer::timeout, this, &SyncWorker::round);
        }
        timer_->start(interval);
    }

private:
    QString localFile_;
    ServerAddress server_;
    int connectTimeoutSeconds_;
    QTimer* timer_ = nullptr;
};

}  // namespace

ResultsSync::ResultsSync(QString localFile, ServerAddress server, int connectTimeoutSeconds,
                         QObject* parent)
    : QObject(parent) {
    auto* worker = new SyncWorker(std::move(localFile), std::move(server), connectTimeoutSeconds);
    worker->report = [this](int sent, int queued, const QString& error) {
        // From the worker's thread to this object's: queued.
        QMetaObject::invokeMethod(
            this, [this, sent, queued, error] { takeRound(sent, queued, error); },
            Qt::QueuedConnection);
    };
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    worker_ = worker;
    thread_.setObjectName(QStringLiteral("results sync"));
    thread_.start();
}

ResultsSync::~ResultsSync() {
    thread_.quit();
    thread_.wait();
}

void ResultsSync::syncNow() {
    auto* worker = static_cast<SyncWorker*>(worker_);
    QMetaObject::invokeMethod(
        worker, [worker] { worker->round(); }, Qt::QueuedConnection);
}

void ResultsSync::startPeriodic(std::chrono::milliseconds interval) {
    auto* worker = static_cast<SyncWorker*>(worker_);
    QMetaObject::invokeMethod(
        worker,
        [worker, interval] {
            worker->startTimer(interval);
            worker->round();
        },
        Qt::QueuedConnection);
}

void ResultsSync::takeRound(int sent, int queued, const QString& error) {
    lastError_ = error;
    if (queued >= 0 && queued != queueLength_) {
        queueLength_ = queued;
        emit queueLengthChanged(queued);
    }
    emit roundFinished(sent, queued, error);
}

}  // namespace vitalon::results
