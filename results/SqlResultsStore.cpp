#include "SqlResultsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimeZone>
#include <QVariant>
#include <atomic>
#include <map>

namespace vitalon::results {

namespace {

// The schema, one entry per version: opening a store applies every version
// above the one it finds, in one transaction. "%ID%" is the run's own integer
// key, spelled as each database spells it.
struct Migration {
    int version;
    std::vector<const char*> statements;
};

const std::vector<Migration>& migrations() {
    static const std::vector<Migration> all = {
        // Version 1: runs, their checks and their attachments. A run is known
        // everywhere by its UUID; within one database its integer id ties its
        // checks and attachments to it. Times are UTC milliseconds with the
        // station's offset from UTC in seconds; flags are 0 or 1.
        {1,
         {"CREATE TABLE runs (id %ID%, uuid TEXT NOT NULL UNIQUE,"
          " serial_number TEXT NOT NULL, operator_name TEXT NOT NULL, station TEXT NOT NULL,"
          " started_ms BIGINT NOT NULL, started_offset INTEGER NOT NULL,"
          " ended_ms BIGINT, ended_offset INTEGER, outcome TEXT NOT NULL,"
          " limits_name TEXT NOT NULL, limits_revision TEXT NOT NULL,"
          " limits_sha256 TEXT NOT NULL, demonstration INTEGER NOT NULL,"
          " vitalon_version TEXT NOT NULL, vitalon_commit TEXT NOT NULL,"
          " adapter TEXT NOT NULL, attempt INTEGER NOT NULL, retest_reason TEXT NOT NULL)",
          "CREATE TABLE checks (run_id BIGINT NOT NULL REFERENCES runs (id),"
          " position INTEGER NOT NULL, check_id TEXT NOT NULL, name TEXT NOT NULL,"
          " value DOUBLE PRECISION, unit TEXT NOT NULL, low DOUBLE PRECISION,"
          " high DOUBLE PRECISION, verdict TEXT NOT NULL, marginal INTEGER NOT NULL,"
          " PRIMARY KEY (run_id, position))",
          "CREATE TABLE attachments (run_id BIGINT NOT NULL REFERENCES runs (id),"
          " position INTEGER NOT NULL, kind TEXT NOT NULL, path TEXT NOT NULL,"
          " sha256 TEXT NOT NULL, PRIMARY KEY (run_id, position))"}},
        // Version 2: the queue to a shared server (a run's sent mark; runs
        // stored before it count as not sent) and the indexes that filtering
        // by serial number, by start time and by check needs.
        {2,
         {"ALTER TABLE runs ADD COLUMN sent INTEGER NOT NULL DEFAULT 0",
          "CREATE INDEX runs_unsent ON runs (id) WHERE sent = 0",
          "CREATE INDEX runs_by_serial ON runs (serial_number, started_ms)",
          "CREATE INDEX runs_by_start ON runs (started_ms)",
          "CREATE INDEX checks_by_check ON checks (check_id, run_id)"}},
    };
    return all;
}

// The columns of a run, in the order runFromQuery reads them.
constexpr const char* kRunColumns =
    "r.uuid, r.serial_number, r.operator_name, r.station, r.started_ms, r.started_offset,"
    " r.ended_ms, r.ended_offset, r.outcome, r.limits_name, r.limits_revision,"
    " r.limits_sha256, r.demonstration, r.vitalon_version, r.vitalon_commit, r.adapter,"
    " r.attempt, r.retest_reason";

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

std::string stdText(const QVariant& value) {
    return value.toString().toStdString();
}

QVariant optionalDouble(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> doubleOrNothing(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toDouble();
}

QDateTime timeOf(const QVariant& ms, const QVariant& offset) {
    if (ms.isNull()) {
        return {};
    }
    return QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), QTimeZone(offset.toInt()));
}

QVariant msOf(const QDateTime& at) {
    return at.isValid() ? QVariant(at.toMSecsSinceEpoch())
                        : QVariant(QMetaType::fromType<qlonglong>());
}

QVariant offsetOf(const QDateTime& at) {
    return at.isValid() ? QVariant(at.offsetFromUtc()) : QVariant(QMetaType::fromType<int>());
}

RunRecord runFromQuery(const QSqlQuery& query) {
    RunRecord run;
    run.uuid = stdText(query.value(0));
    run.serialNumber = stdText(query.value(1));
    run.operatorName = stdText(query.value(2));
    run.station = stdText(query.value(3));
    run.startedAt = timeOf(query.value(4), query.value(5));
    run.endedAt = timeOf(query.value(6), query.value(7));
    run.outcome = stdText(query.value(8));
    run.limitsName = stdText(query.value(9));
    run.limitsRevision = stdText(query.value(10));
    run.limitsSha256 = stdText(query.value(11));
    run.demonstration = query.value(12).toInt() != 0;
    run.vitalonVersion = stdText(query.value(13));
    run.vitalonCommit = stdText(query.value(14));
    run.adapter = stdText(query.value(15));
    run.attempt = query.value(16).toInt();
    run.retestReason = stdText(query.value(17));
    return run;
}

// The WHERE clause of a filter over runs aliased "r", with its values in order.
struct Condition {
    QString sql;
    std::vector<QVariant> values;
};

Condition conditionOf(const RunFilter& filter) {
    Condition condition;
    QStringList parts;
    auto add = [&](const char* sql, QVariant value) {
        parts << QString::fromLatin1(sql);
        condition.values.push_back(std::move(value));
    };
    if (!filter.serialNumber.empty()) {
        add("r.serial_number = ?", text(filter.serialNumber));
    }
    if (filter.since.isValid()) {
        add("r.started_ms >= ?", filter.since.toMSecsSinceEpoch());
    }
    if (filter.until.isValid()) {
        add("r.started_ms < ?", filter.until.toMSecsSinceEpoch());
    }
    if (!filter.station.empty()) {
        add("r.station = ?", text(filter.station));
    }
    if (!filter.outcome.empty()) {
        add("r.outcome = ?", text(filter.outcome));
    }
    if (!filter.operatorName.empty()) {
        add("r.operator_name = ?", text(filter.operatorName));
    }
    if (!parts.isEmpty()) {
        condition.sql = QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
    }
    return condition;
}

QString uniqueConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("vitalon-results-%1").arg(next.fetch_add(1));
}

}  // namespace

QString defaultLocalStorePath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("results.sqlite"));
}

SqlResultsStore::SqlResultsStore(Kind kind, QString connection, std::string where)
    : kind_(kind), connection_(std::move(connection)), where_(std::move(where)) {}

SqlResultsStore::~SqlResultsStore() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

std::string SqlResultsStore::failure(const std::string& doing, const QString& detail) const {
    std::string said = detail.trimmed().toStdString();
    if (password_.size() >= 3) {
        for (auto at = said.find(password_); at != std::string::npos;
             at = said.find(password_, at + 3)) {
            said.replace(at, password_.size(), "***");
        }
    }
    return "results database " + where_ + ": " + doing + ": " + said;
}

SqlResultsStore::Opened SqlResultsStore::openLocal(const QString& file) {
    const std::string where = QDir::toNativeSeparators(file).toStdString();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        return {nullptr, "results database " + where +
                             ": Qt's SQLite driver is not installed (libqt6sql6-sqlite)"};
    }
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath())) {
        return {nullptr, "results database " + where + ": cannot create the folder " +
                             QDir::toNativeSeparators(info.absolutePath()).toStdString()};
    }
    std::unique_ptr<SqlResultsStore> store(
        new SqlResultsStore(Kind::Sqlite, uniqueConnectionName(), where));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), store->connection_);
        db.setDatabaseName(file);
        // Other Vitalon processes write to the same file: wait for their
        // transactions rather than fail.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        if (!db.open()) {
            return {nullptr, store->failure("cannot open", db.lastError().text())};
        }
        QSqlQuery query(db);
        // Readers and writers of several processes at once, and a commit that
        // survives a crash of the program.
        for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                   "PRAGMA foreign_keys = ON"}) {
            if (!query.exec(QString::fromLatin1(pragma))) {
                return {nullptr, store->failure("cannot set it up", query.lastError().text())};
            }
        }
    }
    if (std::string error = store->migrate(); !error.empty()) {
        return {nullptr, error};
    }
    return {std::move(store), {}};
}

SqlResultsStore::Opened SqlResultsStore::openServer(const ServerAddress& address,
                                                    int connectTimeoutSeconds) {
    const std::string where = maskedAddress(address);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        return {nullptr, "results database " + where +
                             ": Qt's PostgreSQL driver is not installed (libqt6sql6-psql)"};
    }
    std::unique_ptr<SqlResultsStore> store(
        new SqlResultsStore(Kind::Postgres, uniqueConnectionName(), where));
    store->password_ = address.password;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), store->connection_);
        db.setHostName(text(address.host));
        db.setPort(address.port);
        db.setUserName(text(address.user));
        db.setPassword(text(address.password));
        db.setDatabaseName(text(address.database));
        // A server that does not answer costs a few seconds, never a hang: a
        // bounded connect, keepalives on a connection that goes quiet, and a
        // bound on every statement.
        db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=vitalon;"
                                            "keepalives_idle=10;keepalives_interval=5;"
                                            "keepalives_count=3")
                                 .arg(std::max(1, connectTimeoutSeconds)));
        if (!db.open()) {
            return {nullptr, store->failure("cannot connect", db.lastError().text())};
        }
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SET statement_timeout = 30000"))) {
            return {nullptr, store->failure("cannot set it up", query.lastError().text())};
        }
    }
    if (std::string error = store->migrate(); !error.empty()) {
        return {nullptr, error};
    }
    return {std::move(store), {}};
}

std::string SqlResultsStore::migrate() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    auto readVersion = [&](int& version) {
        const QStringList tables = db.tables();
        if (!tables.contains(QStringLiteral("schema_version"))) {
            version = tables.contains(QStringLiteral("runs")) ? -1 : 0;
            return true;
        }
        if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
            return false;
        }
        version = query.next() ? query.value(0).toInt() : 0;
        query.finish();
        return true;
    };
    int version = 0;
    if (!readVersion(version)) {
        return failure("cannot read its schema version", query.lastError().text());
    }
    if (version < 0) {
        return "results database " + where_ +
               ": has a runs table but no schema version: not a Vitalon results database";
    }
    if (version > kSchemaVersion) {
        schemaVersion_ = version;
        problem_ = "results database " + where_ + ": its schema version " +
                   std::to_string(version) + " is newer than this Vitalon's (" +
                   std::to_string(kSchemaVersion) +
                   "): it is not written to; update Vitalon to store results in it";
        return {};
    }
    if (version == kSchemaVersion) {
        schemaVersion_ = version;
        return {};
    }
    // Another process may be migrating the same database: one write
    // transaction at a time, and the version read again inside it.
    const bool sqlite = kind_ == Kind::Sqlite;
    if (!query.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
        return failure("cannot start its schema update", query.lastError().text());
    }
    auto rollBack = [&](const std::string& doing, const QString& detail) {
        const std::string error = failure(doing, detail);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return error;
    };
    if (!sqlite && !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(710002001)"))) {
        return rollBack("cannot lock it for its schema update", query.lastError().text());
    }
    query.finish();
    if (!query.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"))) {
        return rollBack("cannot create its version table", query.lastError().text());
    }
    if (!readVersion(version)) {
        return rollBack("cannot read its schema version", query.lastError().text());
    }
    const QString idColumn =
        sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    for (const Migration& migration : migrations()) {
        if (migration.version <= version) {
            continue;
        }
        for (const char* statement : migration.statements) {
            QString sql = QString::fromLatin1(statement);
            sql.replace(QStringLiteral("%ID%"), idColumn);
            if (!query.exec(sql)) {
                return rollBack(
                    "cannot update its schema to version " + std::to_string(migration.version),
                    query.lastError().text());
            }
        }
        version = migration.version;
    }
    if (!query.exec(QStringLiteral("DELETE FROM schema_version")) ||
        !query.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"))) {
        return rollBack("cannot record its schema version", query.lastError().text());
    }
    query.addBindValue(version);
    if (!query.exec()) {
        return rollBack("cannot record its schema version", query.lastError().text());
    }
    if (!query.exec(QStringLiteral("COMMIT"))) {
        return rollBack("cannot commit its schema update", query.lastError().text());
    }
    schemaVersion_ = version;
    return {};
}

// The three statements that write a run, prepared once for a transaction.
struct SqlResultsStore::Writer {
    explicit Writer(const QSqlDatabase& db) : run(db), check(db), attachment(db) {
        prepared = run.prepare(QStringLiteral(
                       "INSERT INTO runs (uuid, serial_number, operator_name, station,"
                       " started_ms, started_offset, ended_ms, ended_offset, outcome,"
                       " limits_name, limits_revision, limits_sha256, demonstration,"
                       " vitalon_version, vitalon_commit, adapter, attempt, retest_reason)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                       " ON CONFLICT (uuid) DO NOTHING RETURNING id")) &&
                   check.prepare(QStringLiteral(
                       "INSERT INTO checks (run_id, position, check_id, name, value, unit, low,"
                       " high, verdict, marginal) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")) &&
                   attachment.prepare(QStringLiteral(
                       "INSERT INTO attachments (run_id, position, kind, path, sha256)"
                       " VALUES (?, ?, ?, ?, ?)"));
    }

    // Stored or AlreadyStored; Failed with `error` set.
    StoreStatus write(const RunRecord& r, QString& error) {
        if (!prepared) {
            error = run.lastError().isValid()     ? run.lastError().text()
                    : check.lastError().isValid() ? check.lastError().text()
                                                  : attachment.lastError().text();
            return StoreStatus::Failed;
        }
        const QDateTime started =
            r.startedAt.isValid() ? r.startedAt : QDateTime::fromMSecsSinceEpoch(0, QTimeZone(0));
        const QVariant values[] = {text(r.uuid),
                                   text(r.serialNumber),
                                   text(r.operatorName),
                                   text(r.station),
                                   msOf(started),
                                   offsetOf(started),
                                   msOf(r.endedAt),
                                   offsetOf(r.endedAt),
                                   text(r.outcome),
                                   text(r.limitsName),
                                   text(r.limitsRevision),
                                   text(r.limitsSha256),
                                   r.demonstration ? 1 : 0,
                                   text(r.vitalonVersion),
                                   text(r.vitalonCommit),
                                   text(r.adapter),
                                   r.attempt,
                                   text(r.retestReason)};
        for (int i = 0; i < static_cast<int>(std::size(values)); ++i) {
            run.bindValue(i, values[i]);
        }
        if (!run.exec()) {
            error = run.lastError().text();
            return StoreStatus::Failed;
        }
        if (!run.next()) {
            run.finish();
            return StoreStatus::AlreadyStored;
        }
        const qlonglong id = run.value(0).toLongLong();
        run.finish();
        int position = 0;
        for (const CheckRecord& c : r.checks) {
            check.bindValue(0, id);
            check.bindValue(1, position++);
            check.bindValue(2, text(c.checkId));
            check.bindValue(3, text(c.name));
            check.bindValue(4, optionalDouble(c.value));
            check.bindValue(5, text(c.unit));
            check.bindValue(6, optionalDouble(c.low));
            check.bindValue(7, optionalDouble(c.high));
            check.bindValue(8, text(c.verdict));
            check.bindValue(9, c.marginal ? 1 : 0);
            if (!check.exec()) {
                error = check.lastError().text();
                return StoreStatus::Failed;
            }
        }
        position = 0;
        for (const AttachmentRecord& a : r.attachments) {
            attachment.bindValue(0, id);
            attachment.bindValue(1, position++);
            attachment.bindValue(2, text(a.kind));
            attachment.bindValue(3, text(a.path));
            attachment.bindValue(4, text(a.sha256));
            if (!attachment.exec()) {
                error = attachment.lastError().text();
                return StoreStatus::Failed;
            }
        }
        return StoreStatus::Stored;
    }

    QSqlQuery run;
    QSqlQuery check;
    QSqlQuery attachment;
    bool prepared = false;
};

std::string SqlResultsStore::beginWriting() {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    // SQLite: take the write lock now, waiting for other writers, rather than
    // fail when a read turns into a write.
    if (!query.exec(kind_ == Kind::Sqlite ? QStringLiteral("BEGIN IMMEDIATE")
                                          : QStringLiteral("BEGIN"))) {
        return failure("cannot start writing", query.lastError().text());
    }
    return {};
}

std::string SqlResultsStore::endWriting(bool commit) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (commit && query.exec(QStringLiteral("COMMIT"))) {
        return {};
    }
    const QString detail = query.lastError().text();
    QSqlQuery(QSqlDatabase::database(connection_, false)).exec(QStringLiteral("ROLLBACK"));
    return commit ? failure("cannot commit", detail) : std::string();
}

StoreResult SqlResultsStore::store(const RunRecord& run) {
    if (!writable()) {
        return {StoreStatus::Failed, problem_};
    }
    if (run.uuid.empty()) {
        return {StoreStatus::Failed, "results database " + where_ + ": a run without a UUID"};
    }
    if (std::string error = beginWriting(); !error.empty()) {
        return {StoreStatus::Failed, error};
    }
    StoreStatus status = StoreStatus::Failed;
    QString detail;
    {
        Writer writer(QSqlDatabase::database(connection_, false));
        status = writer.write(run, detail);
    }
    if (status != StoreStatus::Stored) {
        endWriting(false);
        if (status == StoreStatus::AlreadyStored) {
            return {status, {}};
        }
        return {status, failure("cannot store run " + run.uuid, detail) + " (nothing stored)"};
    }
    if (std::string error = endWriting(true); !error.empty()) {
        return {StoreStatus::Failed, error + " (run " + run.uuid + " not stored)"};
    }
    return {StoreStatus::Stored, {}};
}

SqlResultsStore::BatchResult SqlResultsStore::storeAll(const std::vector<RunRecord>& runs) {
    BatchResult result;
    if (!writable()) {
        result.error = problem_;
        return result;
    }
    for (const RunRecord& run : runs) {
        if (run.uuid.empty()) {
            result.error = "results database " + where_ + ": a run without a UUID";
            return result;
        }
    }
    if (std::string error = beginWriting(); !error.empty()) {
        result.error = error;
        return result;
    }
    {
        Writer writer(QSqlDatabase::database(connection_, false));
        for (const RunRecord& run : runs) {
            QString detail;
            const StoreStatus status = writer.write(run, detail);
            if (status == StoreStatus::Failed) {
                result = {0, 0,
                          failure("cannot store run " + run.uuid, detail) + " (nothing stored)"};
                break;
            }
            ++(status == StoreStatus::Stored ? result.stored : result.alreadyStored);
        }
    }
    if (!result.error.empty()) {
        endWriting(false);
        return result;
    }
    if (std::string error = endWriting(true); !error.empty()) {
        return {0, 0, error + " (nothing stored)"};
    }
    return result;
}

Answer<std::vector<RunRecord>> SqlResultsStore::runs(const RunFilter& filter) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    const Condition condition = conditionOf(filter);
    query.prepare(QStringLiteral("SELECT %1 FROM runs r%2 ORDER BY r.started_ms, r.id")
                      .arg(QString::fromLatin1(kRunColumns), condition.sql));
    for (const QVariant& value : condition.values) {
        query.addBindValue(value);
    }
    if (!query.exec()) {
        return {{}, failure("cannot read runs", query.lastError().text())};
    }
    std::vector<RunRecord> found;
    while (query.next()) {
        found.push_back(runFromQuery(query));
    }
    return {std::move(found), {}};
}

Answer<std::optional<RunRecord>> SqlResultsStore::run(const std::string& uuid) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1, r.id FROM runs r WHERE r.uuid = ?")
                      .arg(QString::fromLatin1(kRunColumns)));
    query.addBindValue(text(uuid));
    if (!query.exec()) {
        return {{}, failure("cannot read run " + uuid, query.lastError().text())};
    }
    if (!query.next()) {
        return {std::nullopt, {}};
    }
    RunRecord found = runFromQuery(query);
    const qlonglong id = query.value(18).toLongLong();
    query.finish();
    query.prepare(QStringLiteral(
        "SELECT check_id, name, value, unit, low, high, verdict, marginal FROM checks"
        " WHERE run_id = ? ORDER BY position"));
    query.addBindValue(id);
    if (!query.exec()) {
        return {{}, failure("cannot read the checks of run " + uuid, query.lastError().text())};
    }
    while (query.next()) {
        found.checks.push_back({stdText(query.value(0)), stdText(query.value(1)),
                                doubleOrNothing(query.value(2)), stdText(query.value(3)),
                                doubleOrNothing(query.value(4)), doubleOrNothing(query.value(5)),
                                stdText(query.value(6)), query.value(7).toInt() != 0});
    }
    query.finish();
    query.prepare(QStringLiteral(
        "SELECT kind, path, sha256 FROM attachments WHERE run_id = ? ORDER BY position"));
    query.addBindValue(id);
    if (!query.exec()) {
        return {{},
                failure("cannot read the attachments of run " + uuid, query.lastError().text())};
    }
    while (query.next()) {
        found.attachments.push_back(
            {stdText(query.value(0)), stdText(query.value(1)), stdText(query.value(2))});
    }
    return {std::move(found), {}};
}

Answer<std::vector<CheckValue>> SqlResultsStore::checkValues(const std::string& checkId,
                                                             const RunFilter& filter) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    Condition condition = conditionOf(filter);
    const QString where = condition.sql.isEmpty()
                              ? QStringLiteral(" WHERE c.check_id = ?")
                              : condition.sql + QStringLiteral(" AND c.check_id = ?");
    query.prepare(
        QStringLiteral("SELECT r.uuid, r.serial_number, r.station, r.started_ms, r.started_offset,"
                       " r.outcome, r.limits_name, r.limits_revision, r.limits_sha256,"
                       " r.demonstration, c.value, c.low, c.high, c.verdict, c.marginal"
                       " FROM checks c JOIN runs r ON r.id = c.run_id%1"
                       " ORDER BY r.started_ms, r.id, c.position")
            .arg(where));
    for (const QVariant& value : condition.values) {
        query.addBindValue(value);
    }
    query.addBindValue(text(checkId));
    if (!query.exec()) {
        return {{},
                failure("cannot read the values of check " + checkId, query.lastError().text())};
    }
    std::vector<CheckValue> found;
    while (query.next()) {
        CheckValue value;
        value.runUuid = stdText(query.value(0));
        value.serialNumber = stdText(query.value(1));
        value.station = stdText(query.value(2));
        value.startedAt = timeOf(query.value(3), query.value(4));
        value.outcome = stdText(query.value(5));
        value.limitsName = stdText(query.value(6));
        value.limitsRevision = stdText(query.value(7));
        value.limitsSha256 = stdText(query.value(8));
        value.demonstration = query.value(9).toInt() != 0;
        value.value = doubleOrNothing(query.value(10));
        value.low = doubleOrNothing(query.value(11));
        value.high = doubleOrNothing(query.value(12));
        value.verdict = stdText(query.value(13));
        value.marginal = query.value(14).toInt() != 0;
        found.push_back(std::move(value));
    }
    return {std::move(found), {}};
}

Answer<std::vector<Attempt>> SqlResultsStore::attempts(const std::string& serialNumber) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT r.id, r.uuid, r.started_ms, r.started_offset, r.station, r.outcome, r.attempt,"
        " r.retest_reason FROM runs r WHERE r.serial_number = ? ORDER BY r.started_ms, r.id"));
    query.addBindValue(text(serialNumber));
    if (!query.exec()) {
        return {{},
                failure("cannot read the attempts of " + serialNumber, query.lastError().text())};
    }
    std::vector<Attempt> found;
    std::map<qlonglong, std::size_t> indexOfRun;
    while (query.next()) {
        indexOfRun[query.value(0).toLongLong()] = found.size();
        found.push_back({stdText(query.value(1)),
                         timeOf(query.value(2), query.value(3)),
                         stdText(query.value(4)),
                         stdText(query.value(5)),
                         query.value(6).toInt(),
                         stdText(query.value(7)),
                         {}});
    }
    query.finish();
    query.prepare(QStringLiteral(
        "SELECT c.run_id, c.check_id FROM checks c JOIN runs r ON r.id = c.run_id"
        " WHERE r.serial_number = ? AND c.verdict = 'fail' ORDER BY c.run_id, c.position"));
    query.addBindValue(text(serialNumber));
    if (!query.exec()) {
        return {
            {},
            failure("cannot read the failed checks of " + serialNumber, query.lastError().text())};
    }
    while (query.next()) {
        const auto at = indexOfRun.find(query.value(0).toLongLong());
        if (at != indexOfRun.end()) {
            found[at->second].failedChecks.push_back(stdText(query.value(1)));
        }
    }
    return {std::move(found), {}};
}

Answer<std::vector<std::string>> SqlResultsStore::unsentRuns() {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT uuid FROM runs WHERE sent = 0 ORDER BY id"))) {
        return {{}, failure("cannot read the runs not yet sent", query.lastError().text())};
    }
    std::vector<std::string> found;
    while (query.next()) {
        found.push_back(stdText(query.value(0)));
    }
    return {std::move(found), {}};
}

Answer<int> SqlResultsStore::unsentCount() {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM runs WHERE sent = 0")) || !query.next()) {
        return {0, failure("cannot count the runs not yet sent", query.lastError().text())};
    }
    return {query.value(0).toInt(), {}};
}

std::string SqlResultsStore::markSent(const std::string& uuid) {
    if (!writable()) {
        return problem_;
    }
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("UPDATE runs SET sent = 1 WHERE uuid = ?"));
    query.addBindValue(text(uuid));
    if (!query.exec()) {
        return failure("cannot mark run " + uuid + " as sent", query.lastError().text());
    }
    return {};
}

}  // namespace vitalon::results
