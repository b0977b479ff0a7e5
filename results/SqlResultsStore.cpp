#include "SqlResultsStore.h"

#include <sqlite3.h>
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
#include <functional>
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
        // Version 3: the index of a check holds its values and limits, so a
        // check's statistics over many runs read that index and the runs, and
        // none of the runs' other checks.
        {3,
         {"DROP INDEX checks_by_check",
          "CREATE INDEX checks_by_check ON checks (check_id, run_id, position, value, low, high,"
          " verdict, marginal)"}},
    };
    return all;
}

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QVariant optionalDouble(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

QDateTime timeAt(qint64 ms, int offsetSeconds) {
    // A zone is costly to make, and a store holds few offsets: keep them.
    thread_local std::map<int, QTimeZone> zones;
    const int seconds = offsetSeconds;
    auto zone = zones.find(seconds);
    if (zone == zones.end()) {
        zone = zones.emplace(seconds, QTimeZone(seconds)).first;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, zone->second);
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
        // Readers and writers of several processes at once, a commit that
        // survives a crash of the program, and a larger page cache and reads
        // through a memory map: a check's values over a year of runs come from
        // an index of millions of rows.
        for (const char* pragma :
             {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL", "PRAGMA foreign_keys = ON",
              "PRAGMA cache_size = -32768", "PRAGMA mmap_size = 1073741824"}) {
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
        if (!query.exec(QStringLiteral("SET statement_timeout = 10000"))) {
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
    if (version >= kSchemaVersion) {
        // Brought up to date (or past) by another process meanwhile.
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return migrate();
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

sqlite3* SqlResultsStore::sqliteHandle() const {
    if (kind_ != Kind::Sqlite) {
        return nullptr;
    }
    const QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        return nullptr;
    }
    if (!sameSqlite_) {
        // Two copies of SQLite in one process may differ in their layout: the
        // handle is used only when the driver reports the very version linked
        // here, else every statement goes through Qt's driver.
        QSqlQuery query(db);
        sameSqlite_ = query.exec(QStringLiteral("SELECT sqlite_version()")) && query.next() &&
                      query.value(0).toString() == QLatin1String(sqlite3_libversion());
    }
    if (!*sameSqlite_) {
        return nullptr;
    }
    return *static_cast<sqlite3* const*>(handle.constData());
}

// One statement prepared once and run many times: through Qt's driver, or on
// SQLite straight through the driver's handle, where Qt's variants would cost
// more than the database's own work for a store of many runs. Placeholders
// count from 0.
class SqlResultsStore::Statement {
public:
    Statement(const SqlResultsStore& store, const QString& sql)
        : database_(store.sqliteHandle()),
          query_(QSqlDatabase::database(store.connection_, false)) {
        if (database_ != nullptr) {
            const QByteArray text = sql.toUtf8();
            if (sqlite3_prepare_v2(database_, text.constData(), static_cast<int>(text.size()),
                                   &statement_, nullptr) != SQLITE_OK) {
                error_ = sqlite3_errmsg(database_);
            }
        } else if (!query_.prepare(sql)) {
            error_ = query_.lastError().text().toStdString();
        }
    }
    ~Statement() {
        if (statement_ != nullptr) {
            sqlite3_finalize(statement_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    const std::string& error() const { return error_; }

    void text(int index, const std::string& value) {
        if (statement_) {
            sqlite3_bind_text(statement_, index + 1, value.data(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        } else {
            query_.bindValue(index, QString::fromStdString(value));
        }
    }
    void integer(int index, qint64 value) {
        if (statement_) {
            sqlite3_bind_int64(statement_, index + 1, value);
        } else {
            query_.bindValue(index, QVariant(static_cast<qlonglong>(value)));
        }
    }
    void integer(int index, std::optional<qint64> value) {
        if (value) {
            integer(index, *value);
        } else if (statement_) {
            sqlite3_bind_null(statement_, index + 1);
        } else {
            query_.bindValue(index, QVariant(QMetaType::fromType<qlonglong>()));
        }
    }
    void real(int index, std::optional<double> value) {
        if (statement_) {
            value ? sqlite3_bind_double(statement_, index + 1, *value)
                  : sqlite3_bind_null(statement_, index + 1);
        } else {
            query_.bindValue(index, optionalDouble(value));
        }
    }

    // Runs it; the first column of the first row it gives, if any, goes to
    // `first`. False with error() set when it failed.
    bool run(std::optional<qint64>* first = nullptr) {
        if (!error_.empty()) {
            return false;
        }
        if (statement_) {
            int step = sqlite3_step(statement_);
            if (step == SQLITE_ROW && first) {
                *first = sqlite3_column_int64(statement_, 0);
            }
            while (step == SQLITE_ROW) {
                step = sqlite3_step(statement_);
            }
            if (step != SQLITE_DONE) {
                error_ = sqlite3_errmsg(database_);
            }
            sqlite3_reset(statement_);
            return error_.empty();
        }
        if (!query_.exec()) {
            error_ = query_.lastError().text().toStdString();
            return false;
        }
        if (first && query_.next()) {
            *first = query_.value(0).toLongLong();
        }
        query_.finish();
        return true;
    }

private:
    sqlite3* database_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    QSqlQuery query_;
    std::string error_;
};

// The three statements that write a run, prepared once for a transaction.
struct SqlResultsStore::Writer {
    explicit Writer(const SqlResultsStore& store)
        : run(store,
              QStringLiteral("INSERT INTO runs (uuid, serial_number, operator_name, station,"
                             " started_ms, started_offset, ended_ms, ended_offset, outcome,"
                             " limits_name, limits_revision, limits_sha256, demonstration,"
                             " vitalon_version, vitalon_commit, adapter, attempt, retest_reason)"
                             " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                             " ON CONFLICT (uuid) DO NOTHING RETURNING id")),
          check(store, QStringLiteral(
                           "INSERT INTO checks (run_id, position, check_id, name, value, unit,"
                           " low, high, verdict, marginal) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")),
          attachment(store, QStringLiteral("INSERT INTO attachments (run_id, position, kind,"
                                           " path, sha256) VALUES (?, ?, ?, ?, ?)")) {}

    // Stored or AlreadyStored; Failed with `error` set.
    StoreStatus write(const RunRecord& r, std::string& error) {
        auto failed = [&error](const Statement& statement) {
            error = statement.error();
            return StoreStatus::Failed;
        };
        auto msOf = [](const QDateTime& at) {
            return at.isValid() ? std::optional<qint64>(at.toMSecsSinceEpoch()) : std::nullopt;
        };
        auto offsetOf = [](const QDateTime& at) {
            return at.isValid() ? std::optional<qint64>(at.offsetFromUtc()) : std::nullopt;
        };
        // A run without a start time is kept at the epoch rather than lost.
        const QDateTime started =
            r.startedAt.isValid() ? r.startedAt : QDateTime::fromMSecsSinceEpoch(0, QTimeZone(0));
        run.text(0, r.uuid);
        run.text(1, r.serialNumber);
        run.text(2, r.operatorName);
        run.text(3, r.station);
        run.integer(4, msOf(started));
        run.integer(5, offsetOf(started));
        run.integer(6, msOf(r.endedAt));
        run.integer(7, offsetOf(r.endedAt));
        run.text(8, r.outcome);
        run.text(9, r.limitsName);
        run.text(10, r.limitsRevision);
        run.text(11, r.limitsSha256);
        run.integer(12, qint64{r.demonstration ? 1 : 0});
        run.text(13, r.vitalonVersion);
        run.text(14, r.vitalonCommit);
        run.text(15, r.adapter);
        run.integer(16, qint64{r.attempt});
        run.text(17, r.retestReason);
        std::optional<qint64> id;
        if (!run.run(&id)) {
            return failed(run);
        }
        if (!id) {
            return StoreStatus::AlreadyStored;
        }
        qint64 position = 0;
        for (const CheckRecord& c : r.checks) {
            check.integer(0, *id);
            check.integer(1, position++);
            check.text(2, c.checkId);
            check.text(3, c.name);
            check.real(4, c.value);
            check.text(5, c.unit);
            check.real(6, c.low);
            check.real(7, c.high);
            check.text(8, c.verdict);
            check.integer(9, qint64{c.marginal ? 1 : 0});
            if (!check.run()) {
                return failed(check);
            }
        }
        position = 0;
        for (const AttachmentRecord& a : r.attachments) {
            attachment.integer(0, *id);
            attachment.integer(1, position++);
            attachment.text(2, a.kind);
            attachment.text(3, a.path);
            attachment.text(4, a.sha256);
            if (!attachment.run()) {
                return failed(attachment);
            }
        }
        return StoreStatus::Stored;
    }

    Statement run;
    Statement check;
    Statement attachment;
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
    std::string detail;
    {
        Writer writer(*this);
        status = writer.write(run, detail);
    }
    if (status != StoreStatus::Stored) {
        endWriting(false);
        if (status == StoreStatus::AlreadyStored) {
            return {status, {}};
        }
        return {status, failure("cannot store run " + run.uuid, QString::fromStdString(detail)) +
                            " (nothing stored)"};
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
        Writer writer(*this);
        for (const RunRecord& run : runs) {
            std::string detail;
            const StoreStatus status = writer.write(run, detail);
            if (status == StoreStatus::Failed) {
                result = {0, 0,
                          failure("cannot store run " + run.uuid, QString::fromStdString(detail)) +
                              " (nothing stored)"};
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

// One row of a query's answer, read from Qt's driver or, on SQLite, straight
// from the database handle: Qt's driver turns every column of every row into
// a variant first, which costs more than the database's own work when a
// question reads a hundred thousand rows.
class SqlResultsStore::Row {
public:
    explicit Row(sqlite3_stmt* statement) : statement_(statement) {}
    explicit Row(const QSqlQuery* query) : query_(query) {}

    bool isNull(int column) const {
        return statement_ ? sqlite3_column_type(statement_, column) == SQLITE_NULL
                          : query_->isNull(column);
    }
    qint64 integer(int column) const {
        return statement_ ? sqlite3_column_int64(statement_, column)
                          : query_->value(column).toLongLong();
    }
    bool flag(int column) const { return integer(column) != 0; }
    std::optional<double> real(int column) const {
        if (isNull(column)) {
            return std::nullopt;
        }
        return statement_ ? sqlite3_column_double(statement_, column)
                          : query_->value(column).toDouble();
    }
    std::string text(int column) const {
        std::string value;
        textInto(column, value);
        return value;
    }
    // Sets `into` to the column's text; a text equal to it is not copied.
    void textInto(int column, std::string& into) const {
        if (!statement_) {
            into = query_->value(column).toString().toStdString();
            return;
        }
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
        if (bytes == nullptr) {
            into.clear();
        } else if (into.size() != size || into.compare(0, size, bytes, size) != 0) {
            into.assign(bytes, size);
        }
    }
    QDateTime time(int msColumn, int offsetColumn) const {
        if (isNull(msColumn)) {
            return {};
        }
        return timeAt(integer(msColumn), static_cast<int>(integer(offsetColumn)));
    }

private:
    sqlite3_stmt* statement_ = nullptr;
    const QSqlQuery* query_ = nullptr;
};

std::string SqlResultsStore::select(const QString& sql, const std::vector<QVariant>& values,
                                    const std::function<void(const Row&)>& each) const {
    if (sqlite3* database = sqliteHandle()) {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(database, text.constData(), static_cast<int>(text.size()),
                               &statement, nullptr) != SQLITE_OK) {
            return sqlite3_errmsg(database);
        }
        int index = 1;
        for (const QVariant& value : values) {
            if (value.isNull()) {
                sqlite3_bind_null(statement, index);
            } else if (value.typeId() == QMetaType::QString) {
                const QByteArray utf8 = value.toString().toUtf8();
                sqlite3_bind_text(statement, index, utf8.constData(), static_cast<int>(utf8.size()),
                                  SQLITE_TRANSIENT);
            } else if (value.typeId() == QMetaType::Double) {
                sqlite3_bind_double(statement, index, value.toDouble());
            } else {
                sqlite3_bind_int64(statement, index, value.toLongLong());
            }
            ++index;
        }
        int step = SQLITE_ROW;
        const Row row(statement);
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            each(row);
        }
        std::string error = step == SQLITE_DONE ? std::string() : sqlite3_errmsg(database);
        sqlite3_finalize(statement);
        return error;
    }
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        return query.lastError().text().toStdString();
    }
    for (const QVariant& value : values) {
        query.addBindValue(value);
    }
    if (!query.exec()) {
        return query.lastError().text().toStdString();
    }
    const Row row(&query);
    while (query.next()) {
        each(row);
    }
    return query.lastError().isValid() ? query.lastError().text().toStdString() : std::string();
}

namespace {

// The columns of a run, in the order runFromRow reads them.
constexpr const char* kRunColumns =
    "r.uuid, r.serial_number, r.operator_name, r.station, r.started_ms, r.started_offset,"
    " r.ended_ms, r.ended_offset, r.outcome, r.limits_name, r.limits_revision,"
    " r.limits_sha256, r.demonstration, r.vitalon_version, r.vitalon_commit, r.adapter,"
    " r.attempt, r.retest_reason, r.id";
constexpr int kRunIdColumn = 18;

}  // namespace

RunRecord SqlResultsStore::runFromRow(const Row& row) {
    RunRecord run;
    run.uuid = row.text(0);
    run.serialNumber = row.text(1);
    run.operatorName = row.text(2);
    run.station = row.text(3);
    run.startedAt = row.time(4, 5);
    run.endedAt = row.time(6, 7);
    run.outcome = row.text(8);
    run.limitsName = row.text(9);
    run.limitsRevision = row.text(10);
    run.limitsSha256 = row.text(11);
    run.demonstration = row.flag(12);
    run.vitalonVersion = row.text(13);
    run.vitalonCommit = row.text(14);
    run.adapter = row.text(15);
    run.attempt = static_cast<int>(row.integer(16));
    run.retestReason = row.text(17);
    return run;
}

Answer<std::vector<RunRecord>> SqlResultsStore::runs(const RunFilter& filter) {
    const Condition condition = conditionOf(filter);
    std::vector<RunRecord> found;
    const std::string error =
        select(QStringLiteral("SELECT %1 FROM runs r%2 ORDER BY r.started_ms, r.id")
                   .arg(QString::fromLatin1(kRunColumns), condition.sql),
               condition.values, [&](const Row& row) { found.push_back(runFromRow(row)); });
    if (!error.empty()) {
        return {{}, failure("cannot read runs", QString::fromStdString(error))};
    }
    return {std::move(found), {}};
}

Answer<std::optional<RunRecord>> SqlResultsStore::run(const std::string& uuid) {
    std::optional<RunRecord> found;
    qint64 id = 0;
    std::string error = select(QStringLiteral("SELECT %1 FROM runs r WHERE r.uuid = ?")
                                   .arg(QString::fromLatin1(kRunColumns)),
                               {text(uuid)}, [&](const Row& row) {
                                   found = runFromRow(row);
                                   id = row.integer(kRunIdColumn);
                               });
    if (!error.empty()) {
        return {{}, failure("cannot read run " + uuid, QString::fromStdString(error))};
    }
    if (!found) {
        return {std::nullopt, {}};
    }
    error =
        select(QStringLiteral("SELECT check_id, name, value, unit, low, high, verdict, marginal"
                              " FROM checks WHERE run_id = ? ORDER BY position"),
               {QVariant(id)}, [&](const Row& row) {
                   found->checks.push_back({row.text(0), row.text(1), row.real(2), row.text(3),
                                            row.real(4), row.real(5), row.text(6), row.flag(7)});
               });
    if (!error.empty()) {
        return {{},
                failure("cannot read the checks of run " + uuid, QString::fromStdString(error))};
    }
    error = select(QStringLiteral("SELECT kind, path, sha256 FROM attachments WHERE run_id = ?"
                                  " ORDER BY position"),
                   {QVariant(id)}, [&](const Row& row) {
                       found->attachments.push_back({row.text(0), row.text(1), row.text(2)});
                   });
    if (!error.empty()) {
        return {
            {},
            failure("cannot read the attachments of run " + uuid, QString::fromStdString(error))};
    }
    return {std::move(found), {}};
}

Answer<std::vector<CheckValue>> SqlResultsStore::checkValues(const std::string& checkId,
                                                             const RunFilter& filter) {
    Condition condition = conditionOf(filter);
    const QString where = condition.sql.isEmpty()
                              ? QStringLiteral(" WHERE c.check_id = ?")
                              : condition.sql + QStringLiteral(" AND c.check_id = ?");
    condition.values.push_back(text(checkId));
    std::vector<CheckValue> found;
    // Texts that repeat from run to run are read once while they repeat.
    std::string station, outcome, limitsName, limitsRevision, limitsSha256, verdict;
    // In the order stored, as the check's index gives them without a sort in
    // the database; oldest first below.
    const std::string error = select(
        QStringLiteral("SELECT r.uuid, r.serial_number, r.station, r.started_ms, r.started_offset,"
                       " r.outcome, r.limits_name, r.limits_revision, r.limits_sha256,"
                       " r.demonstration, c.value, c.low, c.high, c.verdict, c.marginal"
                       " FROM checks c JOIN runs r ON r.id = c.run_id%1"
                       " ORDER BY c.run_id, c.position")
            .arg(where),
        condition.values, [&](const Row& row) {
            CheckValue& value = found.emplace_back();
            value.runUuid = row.text(0);
            value.serialNumber = row.text(1);
            row.textInto(2, station);
            value.station = station;
            value.startedAt = row.time(3, 4);
            row.textInto(5, outcome);
            value.outcome = outcome;
            row.textInto(6, limitsName);
            value.limitsName = limitsName;
            row.textInto(7, limitsRevision);
            value.limitsRevision = limitsRevision;
            row.textInto(8, limitsSha256);
            value.limitsSha256 = limitsSha256;
            value.demonstration = row.flag(9);
            value.value = row.real(10);
            value.low = row.real(11);
            value.high = row.real(12);
            row.textInto(13, verdict);
            value.verdict = verdict;
            value.marginal = row.flag(14);
        });
    if (!error.empty()) {
        return {
            {},
            failure("cannot read the values of check " + checkId, QString::fromStdString(error))};
    }
    const auto older = [](const CheckValue& a, const CheckValue& b) {
        return a.startedAt.toMSecsSinceEpoch() < b.startedAt.toMSecsSinceEpoch();
    };
    if (!std::is_sorted(found.begin(), found.end(), older)) {
        std::stable_sort(found.begin(), found.end(), older);
    }
    return {std::move(found), {}};
}

Answer<std::vector<Attempt>> SqlResultsStore::attempts(const std::string& serialNumber) {
    std::vector<Attempt> found;
    std::map<qint64, std::size_t> indexOfRun;
    std::string error = select(
        QStringLiteral("SELECT r.id, r.uuid, r.started_ms, r.started_offset, r.station, r.outcome,"
                       " r.attempt, r.retest_reason FROM runs r WHERE r.serial_number = ?"
                       " ORDER BY r.started_ms, r.id"),
        {text(serialNumber)}, [&](const Row& row) {
            indexOfRun[row.integer(0)] = found.size();
            found.push_back({row.text(1),
                             row.time(2, 3),
                             row.text(4),
                             row.text(5),
                             static_cast<int>(row.integer(6)),
                             row.text(7),
                             {}});
        });
    if (!error.empty()) {
        return {
            {},
            failure("cannot read the attempts of " + serialNumber, QString::fromStdString(error))};
    }
    error = select(QStringLiteral("SELECT c.run_id, c.check_id FROM checks c"
                                  " JOIN runs r ON r.id = c.run_id"
                                  " WHERE r.serial_number = ? AND c.verdict = 'fail'"
                                  " ORDER BY c.run_id, c.position"),
                   {text(serialNumber)}, [&](const Row& row) {
                       const auto at = indexOfRun.find(row.integer(0));
                       if (at != indexOfRun.end()) {
                           found[at->second].failedChecks.push_back(row.text(1));
                       }
                   });
    if (!error.empty()) {
        return {{},
                failure("cannot read the failed checks of " + serialNumber,
                        QString::fromStdString(error))};
    }
    return {std::move(found), {}};
}

Answer<std::vector<std::string>> SqlResultsStore::unsentRuns() {
    std::vector<std::string> found;
    const std::string error =
        select(QStringLiteral("SELECT uuid FROM runs WHERE sent = 0 ORDER BY id"), {},
               [&](const Row& row) { found.push_back(row.text(0)); });
    if (!error.empty()) {
        return {{}, failure("cannot read the runs not yet sent", QString::fromStdString(error))};
    }
    return {std::move(found), {}};
}

Answer<int> SqlResultsStore::unsentCount() {
    int count = 0;
    const std::string error =
        select(QStringLiteral("SELECT COUNT(*) FROM runs WHERE sent = 0"), {},
               [&](const Row& row) { count = static_cast<int>(row.integer(0)); });
    if (!error.empty()) {
        return {0, failure("cannot count the runs not yet sent", QString::fromStdString(error))};
    }
    return {count, {}};
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
