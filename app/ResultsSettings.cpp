#include "ResultsSettings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

namespace vitalon {
namespace {

QSettings userSettings() {
    return QSettings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
}

const QString kServerKey = QStringLiteral("results/server");
const QString kPasswordKey = QStringLiteral("results/serverPassword");
const QString kStationKey = QStringLiteral("station/name");
const QString kPatternKey = QStringLiteral("moduleTest/serialPattern");

void setOrRemove(QSettings& settings, const QString& key, const QString& value) {
    if (value.isEmpty()) {
        settings.remove(key);
    } else {
        settings.setValue(key, value);
    }
}

}  // namespace

ResultsSettings ResultsSettings::load() {
    QSettings settings = userSettings();
    ResultsSettings loaded;
    loaded.serverUrl = settings.value(kServerKey).toString();
    loaded.serverPassword = settings.value(kPasswordKey).toString();
    loaded.stationName = settings.value(kStationKey).toString();
    loaded.serialPattern = settings.value(kPatternKey).toString();
    return loaded;
}

void ResultsSettings::save() const {
    QSettings settings = userSettings();
    setOrRemove(settings, kServerKey, serverUrl.trimmed());
    setOrRemove(settings, kPasswordKey, serverPassword);
    setOrRemove(settings, kStationKey, stationName.trimmed());
    setOrRemove(settings, kPatternKey, serialPattern);
}

QString ResultsSettings::connectionString() const {
    const QString url = serverUrl.trimmed();
    if (url.isEmpty() || serverPassword.isEmpty()) {
        return url;
    }
    QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid()) {
        return url;  // the store names what is wrong with it
    }
    parsed.setPassword(serverPassword);
    return parsed.toString();
}

QString maskedConnection(const QString& connection) {
    QUrl parsed(connection, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.password().isEmpty()) {
        // A string that is no URL may still hold a password after a colon
        // before an "@": everything up to the "@" is hidden.
        const qsizetype at = connection.lastIndexOf(QChar('@'));
        const qsizetype scheme = connection.indexOf(QStringLiteral("://"));
        if (at > 0 && scheme >= 0 && at > scheme &&
            connection.mid(scheme + 3, at - scheme - 3).contains(QChar(':'))) {
            return connection.left(scheme + 3) + QStringLiteral("*****") + connection.mid(at);
        }
        return connection;
    }
    parsed.setPassword(QStringLiteral("*****"));
    return parsed.toString();
}

QString serialPatternProblem(const QString& pattern) {
    if (pattern.isEmpty()) {
        return {};
    }
    const QRegularExpression expression(pattern);
    if (!expression.isValid()) {
        return QStringLiteral(
                   "The serial-number pattern \"%1\" is not a valid regular "
                   "expression: %2 (at character %3).")
            .arg(pattern, expression.errorString())
            .arg(expression.patternErrorOffset() + 1);
    }
    return {};
}

QString serialNumberProblem(const QString& pattern, const QString& serial) {
    if (pattern.isEmpty()) {
        return {};
    }
    if (const QString problem = serialPatternProblem(pattern); !problem.isEmpty()) {
        return problem + QStringLiteral(" Correct it under Test > Results Database...");
    }
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    if (!whole.match(serial).hasMatch()) {
        return QStringLiteral(
                   "\"%1\" is not a valid serial number: it must match the pattern "
                   "%2 (Test > Results Database...). Check for a typo.")
            .arg(serial, pattern);
    }
    return {};
}

}  // namespace vitalon
