#pragma once

#include <QString>

namespace vitalon {

// The settings of the results store that the window edits, remembered in the
// user's settings: the shared server runs are sent to, the station's name and
// the pattern of valid serial numbers.
struct ResultsSettings {
    // postgresql://user@host[:port]/db; empty: runs stay in this computer's store.
    QString serverUrl;
    // Kept apart from the URL so that the URL can be shown; never shown back.
    QString serverPassword;
    // The station named in every run; empty: the host name.
    QString stationName;
    // A regular expression that a whole serial number must match; empty: any.
    QString serialPattern;

    static ResultsSettings load();
    void save() const;

    // The server's connection string with its password, for the store only.
    QString connectionString() const;
};

// The connection string with any password replaced by asterisks, for messages.
QString maskedConnection(const QString& connection);

// Empty when `pattern` is a usable regular expression, else why not.
QString serialPatternProblem(const QString& pattern);
// Empty when the whole of `serial` matches `pattern` (or the pattern is
// empty), else a sentence for the technician naming the number and the pattern.
QString serialNumberProblem(const QString& pattern, const QString& serial);

}  // namespace vitalon
