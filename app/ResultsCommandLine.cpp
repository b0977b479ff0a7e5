#include "ResultsCommandLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

#include "CheckStatistics.h"
#include "ResultsSettings.h"
#include "ResultsSync.h"
#include "RunRecord.h"
#include "SqlResultsStore.h"
#include "StatisticsSamples.h"

namespace vitalon {

namespace {

void fail(CommandOutput& output, const std::string& text) {
    output.exitCode = 2;
    output.err += "vitalon: " + text + "\n";
}

std::string number(double value) {
    return QString::number(value, 'g', 12).toStdString();
}

std::string number(const std::optional<double>& value) {
    return value ? number(*value) : std::string();
}

QJsonValue jsonNumber(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}

std::string isoTime(const QDateTime& time) {
    return time.isValid() ? time.toString(Qt::ISODate).toStdString() : std::string();
}

std::string isoDay(std::chrono::sys_days day) {
    const std::chrono::year_month_day date(day);
    return QDate(static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                 static_cast<int>(unsigned(date.day())))
        .toString(Qt::ISODate)
        .toStdString();
}

// One CSV field: quoted when it holds a separator, a quote or a line break.
std::string csv(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string csvRow(std::initializer_list<std::string> fields) {
    std::string row;
    bool first = true;
    for (const std::string& field : fields) {
        row += (first ? "" : ",") + csv(field);
        first = false;
    }
    return row + "\n";
}

// `text` with every copy of `address` in it masked from its first ':' (after
// any "scheme://") to its last '@': a text that is no address may still hold
// a password there.
std::string withoutPassword(std::string text, const std::string& address) {
    const std::size_t from = address.find("://") == std::string::npos ? 0 : address.find("://") + 3;
    const std::size_t colon = address.find(':', from);
    const std::size_t at = address.rfind('@');
    if (colon == std::string::npos || at == std::string::npos || at < colon) {
        return text;
    }
    const std::string masked = address.substr(0, colon + 1) + "***" + address.substr(at);
    for (std::size_t found = text.find(address); found != std::string::npos;
         found = text.find(address, found + masked.size())) {
        text.replace(found, address.size(), masked);
    }
    return text;
}

QJsonObject runJson(const results::RunRecord& run) {
    QJsonArray checks;
    for (const results::CheckRecord& check : run.checks) {
        checks.append(QJsonObject{{"id", QString::fromStdString(check.checkId)},
                                  {"name", QString::fromStdString(check.name)},
                                  {"value", jsonNumber(check.value)},
                                  {"unit", QString::fromStdString(check.unit)},
                                  {"low", jsonNumber(check.low)},
                                  {"high", jsonNumber(check.high)},
                                  {"verdict", QString::fromStdString(check.verdict)},
                                  {"marginal", check.marginal}});
    }
    QJsonArray attachments;
    for (const results::AttachmentRecord& file : run.attachments) {
        attachments.append(QJsonObject{{"kind", QString::fromStdString(file.kind)},
                                       {"path", QString::fromStdString(file.path)},
                                       {"sha256", QString::fromStdString(file.sha256)}});
    }
    return QJsonObject{
        {"uuid", QString::fromStdString(run.uuid)},
        {"serialNumber", QString::fromStdString(run.serialNumber)},
        {"operator", QString::fromStdString(run.operatorName)},
        {"station", QString::fromStdString(run.station)},
        {"startedAt", QString::fromStdString(isoTime(run.startedAt))},
        {"endedAt", run.endedAt.isValid() ? QJsonValue(QString::fromStdString(isoTime(run.endedAt)))
                                          : QJsonValue()},
        {"outcome", QString::fromStdString(run.outcome)},
        {"attempt", run.attempt},
        {"retestReason", QString::fromStdString(run.retestReason)},
        {"limits", QJsonObject{{"name", QString::fromStdString(run.limitsName)},
                               {"revision", QString::fromStdString(run.limitsRevision)},
                               {"sha256", QString::fromStdString(run.limitsSha256)}}},
        {"demonstration", run.demonstration},
        {"vitalonVersion", QString::fromStdString(run.vitalonVersion)},
        {"vitalonCommit", QString::fromStdString(run.vitalonCommit)},
        {"adapter", QString::fromStdString(run.adapter)},
        {"checks", checks},
        {"attachments", attachments}};
}

void printRuns(results::ResultsStore& store, const std::vector<results::RunRecord>& runs, bool json,
               CommandOutput& output) {
    QJsonArray all;
    if (!json) {
        output.out += csvRow({"run",           "serial",        "operator", "station", "started",
                              "ended",         "outcome",       "attempt",  "limits",  "revision",
                              "demonstration", "retest_reason", "check",    "name",    "value",
                              "unit",          "low",           "high",     "verdict", "marginal"});
    }
    for (const results::RunRecord& listed : runs) {
        // The list comes without checks; each run is read whole.
        results::Answer<std::optional<results::RunRecord>> whole = store.run(listed.uuid);
        if (!whole.ok()) {
            fail(output,
                 "the results store could not read run " + listed.uuid + ": " + whole.error);
            return;
        }
        const results::RunRecord& run = whole.value ? *whole.value : listed;
        if (json) {
            all.append(runJson(run));
            continue;
        }
        const auto row = [&](const results::CheckRecord* check) {
            output.out += csvRow({run.uuid,
                                  run.serialNumber,
                                  run.operatorName,
                                  run.station,
                                  isoTime(run.startedAt),
                                  isoTime(run.endedAt),
                                  run.outcome,
                                  std::to_string(run.attempt),
                                  run.limitsName,
                                  run.limitsRevision,
                                  run.demonstration ? "yes" : "no",
                                  run.retestReason,
                                  check ? check->checkId : "",
                                  check ? check->name : "",
                                  check ? number(check->value) : "",
                                  check ? check->unit : "",
                                  check ? number(check->low) : "",
                                  check ? number(check->high) : "",
                                  check ? check->verdict : "",
                                  check ? (check->marginal ? "yes" : "no") : ""});
        };
        if (run.checks.empty()) {
            row(nullptr);
        }
        for (const results::CheckRecord& check : run.checks) {
            row(&check);
        }
    }
    if (json) {
        output.out += QJsonDocument(QJsonObject{{"runs", all}}).toJson().toStdString();
    }
}

void printStatistics(results::ResultsStore& store, const results::RunFilter& filter,
                     const std::string& checkId, bool json, CommandOutput& output) {
    results::Answer<std::vector<results::CheckValue>> values = store.checkValues(checkId, filter);
    if (!values.ok()) {
        fail(output,
             "the results store could not read the values of " + checkId + ": " + values.error);
        return;
    }
    results::Answer<std::vector<results::RunRecord>> runs = store.runs(filter);
    if (!runs.ok()) {
        fail(output, "the results store could not read the runs: " + runs.error);
        return;
    }
    // The unit is kept with the run's checks, not with the values.
    std::string unit;
    if (!values.value.empty()) {
        const auto newest = store.run(values.value.back().runUuid);
        if (newest.ok() && newest.value) {
            for (const results::CheckRecord& check : newest.value->checks) {
                if (check.checkId == checkId) {
                    unit = check.unit;
                }
            }
        }
    }
    const std::vector<results::CheckSample> samples = results::checkSamplesOf(values.value, unit);
    const std::vector<results::RunSample> runSamples = results::runSamplesOf(runs.value);
    const results::CheckStatistics statistics = results::checkStatistics(samples);
    const std::vector<results::DayYield> firstPass = results::firstPassYieldPerDay(runSamples);
    if (values.value.empty()) {
        output.err += "vitalon: no stored value of check " + checkId + " in the selected runs\n";
    } else if (statistics.groups.empty()) {
        output.err += "vitalon: the selected values of " + checkId +
                      " are all from demonstration runs, which are left out\n";
    }

    if (json) {
        QJsonArray groups;
        for (const results::CheckGroup& group : statistics.groups) {
            QJsonArray trend;
            for (const results::DayMean& day : group.trend) {
                trend.append(QJsonObject{{"day", QString::fromStdString(isoDay(day.day))},
                                         {"count", day.count},
                                         {"mean", day.mean},
                                         {"min", day.min},
                                         {"max", day.max}});
            }
            QJsonArray counts;
            for (const int count : group.histogram.counts) {
                counts.append(count);
            }
            groups.append(
                QJsonObject{{"limitsName", QString::fromStdString(group.limitsName)},
                            {"limitsRevision", QString::fromStdString(group.limitsRevision)},
                            {"low", jsonNumber(group.low)},
                            {"high", jsonNumber(group.high)},
                            {"unit", QString::fromStdString(group.unit)},
                            {"count", group.count},
                            {"mean", group.count > 0 ? QJsonValue(group.mean) : QJsonValue()},
                            {"standardDeviation", jsonNumber(group.standardDeviation)},
                            {"min", group.count > 0 ? QJsonValue(group.min) : QJsonValue()},
                            {"max", group.count > 0 ? QJsonValue(group.max) : QJsonValue()},
                            {"cp", jsonNumber(group.capability.cp)},
                            {"cpk", jsonNumber(group.capability.cpk)},
                            {"capabilityNote", QString::fromStdString(group.capability.note)},
                            {"passed", group.passed},
                            {"judged", group.judged},
                            {"yield", jsonNumber(group.yield)},
                            {"histogram", QJsonObject{{"firstEdge", group.histogram.firstEdge},
                                                      {"binWidth", group.histogram.binWidth},
                                                      {"counts", counts}}},
                            {"trend", trend}});
        }
        QJsonArray days;
        for (const results::DayYield& day : firstPass) {
            days.append(QJsonObject{{"day", QString::fromStdString(isoDay(day.day))},
                                    {"firstAttempts", day.firstAttempts},
                                    {"passedFirstTime", day.passedFirstTime},
                                    {"yield", day.yield}});
        }
        output.out +=
            QJsonDocument(QJsonObject{{"check", QString::fromStdString(checkId)},
                                      {"demonstrationsLeftOut", statistics.demonstrationsLeftOut},
                                      {"groups", groups},
                                      {"firstPassYield", days}})
                .toJson()
                .toStdString();
        return;
    }

    // Four tables, each with its header, separated by an empty line.
    output.out += csvRow({"check", "limits", "revision", "low", "high", "unit", "count", "mean",
                          "sd", "min", "max", "cp", "cpk", "note", "passed", "judged", "yield"});
    for (const results::CheckGroup& group : statistics.groups) {
        const bool any = group.count > 0;
        output.out += csvRow({checkId, group.limitsName, group.limitsRevision, number(group.low),
                              number(group.high), group.unit, std::to_string(group.count),
                              any ? number(group.mean) : "", number(group.standardDeviation),
                              any ? number(group.min) : "", any ? number(group.max) : "",
                              number(group.capability.cp), number(group.capability.cpk),
                              group.capability.note, std::to_string(group.passed),
                              std::to_string(group.judged), number(group.yield)});
    }
    output.out += "\n" + csvRow({"limits", "revision", "from", "to", "count"});
    for (const results::CheckGroup& group : statistics.groups) {
        for (std::size_t bin = 0; bin < group.histogram.counts.size(); ++bin) {
            const double from =
                group.histogram.firstEdge + group.histogram.binWidth * static_cast<double>(bin);
            output.out += csvRow({group.limitsName, group.limitsRevision, number(from),
                                  number(from + group.histogram.binWidth),
                                  std::to_string(group.histogram.counts[bin])});
        }
    }
    output.out += "\n" + csvRow({"limits", "revision", "day", "count", "mean", "min", "max"});
    for (const results::CheckGroup& group : statistics.groups) {
        for (const results::DayMean& day : group.trend) {
            output.out += csvRow({group.limitsName, group.limitsRevision, isoDay(day.day),
                                  std::to_string(day.count), number(day.mean), number(day.min),
                                  number(day.max)});
        }
    }
    output.out += "\n" + csvRow({"day", "first_attempts", "passed_first_time", "yield"});
    for (const results::DayYield& day : firstPass) {
        output.out += csvRow({isoDay(day.day), std::to_string(day.firstAttempts),
                              std::to_string(day.passedFirstTime), number(day.yield)});
    }
}

}  // namespace

std::optional<QDateTime> parseResultsDate(const QString& text, bool endOfDay) {
    const QString trimmed = text.trimmed();
    // A date alone; QDate would also read the date of a date and time.
    const QDate date = trimmed.size() == 10 ? QDate::fromString(trimmed, Qt::ISODate) : QDate();
    if (date.isValid()) {
        return QDateTime(endOfDay ? date.addDays(1) : date, QTime(0, 0));
    }
    const QDateTime time = QDateTime::fromString(trimmed, Qt::ISODate);
    if (time.isValid()) {
        return time;
    }
    return std::nullopt;
}

CommandOutput queryResults(results::ResultsStore& store, const ResultsQuery& query) {
    CommandOutput output;
    const QString format = query.format.trimmed().toLower();
    if (format != QLatin1String("csv") && format != QLatin1String("json")) {
        fail(output, "--format takes csv or json, not \"" + query.format.toStdString() + "\"");
        return output;
    }
    results::RunFilter filter;
    filter.serialNumber = query.serialNumber.trimmed().toStdString();
    filter.station = query.station.trimmed().toStdString();
    for (const auto& [text, endOfDay, option, bound] :
         {std::tuple(query.since, false, "--since", &filter.since),
          std::tuple(query.until, true, "--until", &filter.until)}) {
        if (text.trimmed().isEmpty()) {
            continue;
        }
        const std::optional<QDateTime> parsed = parseResultsDate(text, endOfDay);
        if (!parsed) {
            fail(output, std::string(option) +
                             " takes a date (2026-12-08) or a date and time "
                             "(2026-12-08T14:30), not \"" +
                             text.toStdString() + "\"");
            return output;
        }
        *bound = *parsed;
    }
    if (filter.since.isValid() && filter.until.isValid() && filter.until <= filter.since) {
        fail(output, "--until is not after --since: no run could match");
        return output;
    }
    const bool json = format == QLatin1String("json");
    if (!query.checkId.trimmed().isEmpty()) {
        printStatistics(store, filter, query.checkId.trimmed().toStdString(), json, output);
        return output;
    }
    results::Answer<std::vector<results::RunRecord>> runs = store.runs(filter);
    if (!runs.ok()) {
        fail(output, "the results store could not read the runs: " + runs.error);
        return output;
    }
    printRuns(store, runs.value, json, output);
    return output;
}

ServerChoice chooseResultsServer(const std::optional<QString>& given) {
    ServerChoice choice;
    ResultsSettings settings = ResultsSettings::load();
    // The remembered address with its password put back, as the settings
    // dialog does it: one rule for both, the password kept decoded.
    QString connection = settings.connectionString();
    if (given) {
        connection = given->trimmed();
    }
    if (connection.isEmpty()) {
        if (given) {
            settings.serverUrl.clear();
            settings.serverPassword.clear();
            settings.save();
            choice.remembered = "none: runs stay on this computer";
        }
        return choice;
    }
    const results::ParsedAddress parsed = results::parseServerAddress(connection.toStdString());
    if (!parsed.ok()) {
        choice.error = withoutPassword(parsed.error, connection.toStdString());
        return choice;
    }
    choice.address = parsed.address;
    if (given) {
        // The password is kept apart from the address, which may be shown.
        settings.serverPassword = QString::fromStdString(parsed.address.password);
        QUrl address(connection, QUrl::StrictMode);
        address.setPassword(QString());
        settings.serverUrl = address.isValid() ? address.toString() : connection;
        settings.save();
        choice.remembered = results::maskedAddress(parsed.address);
    }
    return choice;
}

CommandOutput sendResultsQueue(results::SqlResultsStore& local,
                               const results::ServerAddress& server, int connectTimeoutSeconds) {
    CommandOutput output;
    const std::string where = results::maskedAddress(server);
    const results::Answer<int> waiting = local.unsentCount();
    if (!waiting.ok()) {
        fail(output, "the local results store could not count its queue: " + waiting.error);
        return output;
    }
    results::SyncRound round;
    if (waiting.value > 0) {
        results::SqlResultsStore::Opened opened =
            results::SqlResultsStore::openServer(server, connectTimeoutSeconds);
        if (opened.store) {
            round = results::sendQueued(local, *opened.store);
        } else {
            round.queued = waiting.value;
            round.error = opened.error;
        }
    }
    const auto runs = [](int count) {
        return std::to_string(count) + (count == 1 ? " run" : " runs");
    };
    output.err += "vitalon: " + runs(round.sent) + " sent to " + where;
    if (round.queued > 0) {
        output.err += "; " + runs(round.queued) + " still queued";
    }
    output.err += "\n";
    if (!round.error.empty()) {
        output.err += "vitalon: the results server " + where +
                      " did not take the queue: " + round.error +
                      " (the runs stay queued and are sent later)\n";
    }
    output.exitCode = round.queued > 0 || !round.error.empty() ? 1 : 0;
    return output;
}

int printed(const CommandOutput& output) {
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    std::fflush(stderr);
    return output.exitCode;
}

int runResultsCommand(const ResultsCommand& command) {
    CommandOutput output;
    const ServerChoice server = chooseResultsServer(command.server);
    if (!server.error.empty()) {
        fail(output, "--results-db: " + server.error);
        return printed(output);
    }
    if (command.server && !command.query) {
        output.err += "vitalon: results server remembered: " + server.remembered + "\n";
    }
    if (command.query) {
        if (command.server && server.address) {
            results::SqlResultsStore::Opened opened =
                results::SqlResultsStore::openServer(*server.address, kServerConnectSeconds);
            if (!opened.store) {
                fail(output, "the results server could not be read: " + opened.error);
                return printed(output);
            }
            return printed(queryResults(*opened.store, command.filter));
        }
        const QString file = results::defaultLocalStorePath();
        results::SqlResultsStore::Opened opened = results::SqlResultsStore::openLocal(file);
        if (!opened.store) {
            fail(output, "the local results store could not be opened: " + opened.error);
            return printed(output);
        }
        return printed(queryResults(*opened.store, command.filter));
    }
    if (command.sync) {
        if (!server.address) {
            fail(output,
                 "no results server is set: give one with --results-db "
                 "postgresql://USER@HOST/DATABASE (it is remembered)");
            return printed(output);
        }
        results::SqlResultsStore::Opened local =
            results::SqlResultsStore::openLocal(results::defaultLocalStorePath());
        if (!local.store) {
            fail(output, "the local results store could not be opened: " + local.error);
            return printed(output);
        }
        const CommandOutput sent =
            sendResultsQueue(*local.store, *server.address, kServerConnectSeconds);
        output.err += sent.err;
        output.exitCode = sent.exitCode;
    }
    return printed(output);
}

}  // namespace vitalon
