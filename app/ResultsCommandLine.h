#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <string>

#include "DatabaseAddress.h"
#include "ResultsStore.h"

namespace vitalon {

namespace results {
class SqlResultsStore;
}

// What a results command printed and how it ended; the caller writes the
// texts to standard output and standard error.
struct CommandOutput {
    int exitCode = 0;
    std::string out;
    std::string err;  // lines, each starting "vitalon: "
};

// `vitalon --results`: which runs, and optionally one check's statistics.
struct ResultsQuery {
    QString serialNumber;
    QString since;  // a date (from its start) or a date and time; empty: no bound
    QString until;  // a date (to its end) or a date and time; empty: no bound
    QString station;
    QString checkId;         // empty: the runs and their checks
    QString format = "csv";  // "csv" or "json"
};

// The bound a --since or --until value gives, in the station's local time: a
// date alone means the start of that day (`endOfDay`: the start of the next
// one). Nothing when the text is neither an ISO date nor an ISO date and time.
std::optional<QDateTime> parseResultsDate(const QString& text, bool endOfDay);

// Prints the runs the query selects, oldest first, each with its checks (one
// CSV row per check; JSON: one object per run), or with a check identifier
// that check's statistics: per limits revision count, mean, standard
// deviation, Cp, Cpk, yield, histogram and daily trend, then first-pass yield
// per day. Exit code 0, or 2 for a bad option or a store that cannot answer.
CommandOutput queryResults(results::ResultsStore& store, const ResultsQuery& query);

// The shared results server to use: the one given with --results-db (then
// remembered in the settings, its password apart from the address), else the
// remembered one. `given` empty text forgets it. An address that cannot be
// used gives an error that never contains its password.
struct ServerChoice {
    std::optional<results::ServerAddress> address;  // none: runs stay on this computer
    std::string error;
    std::string remembered;  // when `given`: what is now remembered, password masked
};
ServerChoice chooseResultsServer(const std::optional<QString>& given);

// `vitalon --results-sync`, and the end of a module test when a server is
// set: sends the local store's queue to the server and says how many runs
// were sent and how many stay queued. Exit code 0 when none stays queued, 1
// when the server is down or refused them (they stay queued, nothing lost).
CommandOutput sendResultsQueue(results::SqlResultsStore& local,
                               const results::ServerAddress& server, int connectTimeoutSeconds);

// Writes the output to standard output and standard error; returns its exit code.
int printed(const CommandOutput& output);

// The results commands without a module test: `--results` (reads the local
// store, or the server given with --results-db), `--results-sync`, and
// `--results-db URL` alone (remembers the server). Returns the exit code.
struct ResultsCommand {
    bool query = false;             // --results
    bool sync = false;              // --results-sync
    std::optional<QString> server;  // --results-db
    ResultsQuery filter;
};
int runResultsCommand(const ResultsCommand& command);

// How long a station waits for the results server to answer a connection.
inline constexpr int kServerConnectSeconds = 5;

}  // namespace vitalon
