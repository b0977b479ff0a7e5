#include "ResultsCsv.h"

#include <QIODevice>
#include <QStringList>

namespace vitalon {
namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString optionalNumber(const std::optional<double>& value) {
    return value ? QString::number(*value, 'g', 10) : QString();
}

QString line(const QStringList& fields) {
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        quoted << csvField(field);
    }
    return quoted.join(QChar(',')) + QStringLiteral("\r\n");
}

QStringList runFields(const results::RunRecord& run) {
    return {text(run.uuid),
            text(run.serialNumber),
            run.startedAt.toString(Qt::ISODate),
            run.endedAt.isValid() ? run.endedAt.toString(Qt::ISODate) : QString(),
            text(run.station),
            text(run.operatorName),
            text(run.outcome),
            QString::number(run.attempt),
            text(run.retestReason),
            text(run.limitsName),
            text(run.limitsRevision),
            text(run.limitsSha256),
            run.demonstration ? QStringLiteral("yes") : QStringLiteral("no"),
            text(run.vitalonVersion),
            text(run.vitalonCommit),
            text(run.adapter)};
}

}  // namespace

QString csvField(const QString& field) {
    if (!field.contains(QChar(',')) && !field.contains(QChar('"')) &&
        !field.contains(QChar('\n')) && !field.contains(QChar('\r'))) {
        return field;
    }
    QString doubled = field;
    doubled.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QChar('"') + doubled + QChar('"');
}

QString writeResultsCsv(QIODevice& out, results::ResultsStore& store,
                        const std::vector<results::RunRecord>& runs) {
    const QStringList header = {QStringLiteral("run"),
                                QStringLiteral("serial_number"),
                                QStringLiteral("started"),
                                QStringLiteral("ended"),
                                QStringLiteral("station"),
                                QStringLiteral("operator"),
                                QStringLiteral("outcome"),
                                QStringLiteral("attempt"),
                                QStringLiteral("retest_reason"),
                                QStringLiteral("limits_name"),
                                QStringLiteral("limits_revision"),
                                QStringLiteral("limits_sha256"),
                                QStringLiteral("demonstration"),
                                QStringLiteral("vitalon_version"),
                                QStringLiteral("vitalon_commit"),
                                QStringLiteral("adapter"),
                                QStringLiteral("check"),
                                QStringLiteral("check_name"),
                                QStringLiteral("value"),
                                QStringLiteral("unit"),
                                QStringLiteral("low"),
                                QStringLiteral("high"),
                                QStringLiteral("verdict"),
                                QStringLiteral("marginal")};
    const auto write = [&out](const QString& l) {
        const QByteArray bytes = l.toUtf8();
        return out.write(bytes) == bytes.size();
    };
    const QString writeFailed = QStringLiteral("The file could not be written: %1");
    if (!write(line(header))) {
        return writeFailed.arg(out.errorString());
    }
    for (const results::RunRecord& listed : runs) {
        results::Answer<std::optional<results::RunRecord>> answer = store.run(listed.uuid);
        if (!answer.ok()) {
            return QStringLiteral("The checks of run %1 could not be read: %2")
                .arg(text(listed.uuid), text(answer.error));
        }
        const results::RunRecord& run = answer.value ? *answer.value : listed;
        const QStringList fields = runFields(run);
        if (run.checks.empty() && !write(line(fields + QStringList(8, QString())))) {
            return writeFailed.arg(out.errorString());
        }
        for (const results::CheckRecord& check : run.checks) {
            const QStringList checkFields = {
                text(check.checkId),
                text(check.name),
                optionalNumber(check.value),
                text(check.unit),
                optionalNumber(check.low),
                optionalNumber(check.high),
                text(check.verdict),
                check.marginal ? QStringLiteral("yes") : QStringLiteral("no")};
            if (!write(line(fields + checkFields))) {
                return writeFailed.arg(out.errorString());
            }
        }
    }
    return {};
}

}  // namespace vitalon
