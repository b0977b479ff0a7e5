#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DatabaseAddress.h"
#include "ResultsStore.h"

struct sqlite3;

namespace vitalon::results {

// The results store in a database through Qt SQL: a local SQLite file (one per
// user, shared by every Vitalon process of that user) or a PostgreSQL server
// shared by a fleet of stations. The schema is created and brought up to date
// when the store opens. A connection belongs to the thread that opened the
// store: use the store on that thread only.
class SqlResultsStore : public ResultsStore {
public:
    // The schema this program writes; see the migrations in SqlResultsStore.cpp.
    static constexpr int kSchemaVersion = 3;

    struct Opened;

    // Opens the SQLite file, creating it and its folder when missing.
    static Opened openLocal(const QString& file);
    // Connects to a PostgreSQL server; gives up after `connectTimeoutSeconds`
    // when the server does not answer.
    static Opened openServer(const ServerAddress& address, int connectTimeoutSeconds = 5);

    ~SqlResultsStore() override;
    SqlResultsStore(const SqlResultsStore&) = delete;
    SqlResultsStore& operator=(const SqlResultsStore&) = delete;

    StoreResult store(const RunRecord& run) override;
    Answer<std::vector<RunRecord>> runs(const RunFilter& filter) override;

    struct BatchResult {
        int stored = 0;
        int alreadyStored = 0;  // left as they were
        std::string error;      // nothing was stored
    };
    // Stores many runs in one transaction, all or none: for importing and for
    // generating large stores.
    BatchResult storeAll(const std::vector<RunRecord>& runs);
    Answer<std::optional<RunRecord>> run(const std::string& uuid) override;
    Answer<std::vector<CheckValue>> checkValues(const std::string& checkId,
                                                const RunFilter& filter) override;
    Answer<std::vector<Attempt>> attempts(const std::string& serialNumber) override;

    // The runs not yet sent to the shared server, oldest first; only the local
    // store keeps this mark.
    Answer<std::vector<std::string>> unsentRuns();
    Answer<int> unsentCount();
    // Marks a run as sent; empty on success, else what went wrong.
    std::string markSent(const std::string& uuid);

    // The schema version found in the database after opening it.
    int schemaVersion() const { return schemaVersion_; }
    // False when the database's schema is newer than this program's: it is
    // read but never written to, and `problem()` says why.
    bool writable() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }
    // The file, or the server's address with its password masked.
    const std::string& where() const { return where_; }

private:
    enum class Kind { Sqlite, Postgres };
    SqlResultsStore(Kind kind, QString connection, std::string where);

    class Statement;
    struct Writer;
    class Row;
    // The SQLite handle under Qt's driver; null on another database, and null
    // when the driver runs another SQLite than the one this program is linked
    // with (Qt builds that bundle their own), where the handle is not ours to use.
    sqlite3* sqliteHandle() const;
    // Runs `sql` with `values` for its placeholders and hands each row to
    // `each`; empty on success, else the database's message.
    std::string select(const QString& sql, const std::vector<QVariant>& values,
                       const std::function<void(const Row&)>& each) const;
    static RunRecord runFromRow(const Row& row);
    std::string beginWriting();
    // Commits, or rolls back; an error only when a commit failed.
    std::string endWriting(bool commit);
    std::string migrate();
    std::string failure(const std::string& doing, const QString& detail) const;

    Kind kind_;
    QString connection_;
    std::string where_;
    std::string password_;  // masked out of every message
    int schemaVersion_ = 0;
    mutable std::optional<bool> sameSqlite_;  // the driver's SQLite is the linked one
    std::string problem_;
};

struct SqlResultsStore::Opened {
    std::unique_ptr<SqlResultsStore> store;  // null when it could not be opened
    std::string error;
};

// The local store of this user: results.sqlite in the program's data folder.
QString defaultLocalStorePath();

}  // namespace vitalon::results
