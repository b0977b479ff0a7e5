#include "ResultsSettingsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSysInfo>
#include <QUrl>
#include <QVBoxLayout>

#include "DatabaseAddress.h"

namespace vitalon {

ResultsSettingsDialog::ResultsSettingsDialog(const QString& localStore, QWidget* parent)
    : QDialog(parent), loaded_(ResultsSettings::load()) {
    setWindowTitle(QStringLiteral("Results Database"));
    setObjectName(QStringLiteral("ResultsSettingsDialog"));

    auto* local = new QLabel(localStore, this);
    local->setTextInteractionFlags(Qt::TextSelectableByMouse);
    local->setWordWrap(true);
    serverEdit_ = new QLineEdit(loaded_.serverUrl, this);
    serverEdit_->setPlaceholderText(QStringLiteral("none: runs stay on this computer"));
    serverEdit_->setToolTip(
        QStringLiteral("postgresql://user@host[:port]/database, or "
                       "postgresql://user@/database?host=/socket/folder"));
    passwordEdit_ = new QLineEdit(this);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    passwordEdit_->setPlaceholderText(loaded_.serverPassword.isEmpty()
                                          ? QStringLiteral("none")
                                          : QStringLiteral("unchanged (stored)"));
    stationEdit_ = new QLineEdit(loaded_.stationName, this);
    stationEdit_->setPlaceholderText(QSysInfo::machineHostName());
    patternEdit_ = new QLineEdit(loaded_.serialPattern, this);
    patternEdit_->setPlaceholderText(QStringLiteral("any serial number"));
    patternEdit_->setToolTip(
        QStringLiteral("A regular expression the whole serial number must "
                       "match, for example TR710[01]0-\\d{6}"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Local store (written first):"), local);
    form->addRow(QStringLiteral("Shared &server:"), serverEdit_);
    form->addRow(QStringLiteral("Server &password:"), passwordEdit_);
    form->addRow(QStringLiteral("S&tation name:"), stationEdit_);
    form->addRow(QStringLiteral("Serial-number p&attern:"), patternEdit_);

    messageLabel_ = new QLabel(this);
    messageLabel_->setWordWrap(true);
    QPalette palette = messageLabel_->palette();
    palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    messageLabel_->setPalette(palette);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ResultsSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ResultsSettingsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(messageLabel_);
    layout->addWidget(buttons);
    resize(560, sizeHint().height());

    local->setObjectName(QStringLiteral("localStore"));
    serverEdit_->setObjectName(QStringLiteral("serverUrl"));
    passwordEdit_->setObjectName(QStringLiteral("serverPassword"));
    stationEdit_->setObjectName(QStringLiteral("stationName"));
    patternEdit_->setObjectName(QStringLiteral("serialPattern"));
    messageLabel_->setObjectName(QStringLiteral("settingsMessage"));
}

bool ResultsSettingsDialog::save() {
    ResultsSettings settings = loaded_;
    settings.stationName = stationEdit_->text().trimmed();
    settings.serialPattern = patternEdit_->text();
    if (const QString problem = serialPatternProblem(settings.serialPattern); !problem.isEmpty()) {
        showMessage(problem);
        patternEdit_->setFocus();
        return false;
    }
    QString server = serverEdit_->text().trimmed();
    if (!passwordEdit_->text().isEmpty()) {
        settings.serverPassword = passwordEdit_->text();
    }
    if (server.isEmpty()) {
        settings.serverUrl.clear();
        settings.serverPassword.clear();
    } else {
        // A password typed into the address moves to its own field, so that
        // the address can be shown again without it.
        QUrl url(server, QUrl::StrictMode);
        if (url.isValid() && !url.password().isEmpty()) {
            settings.serverPassword = url.password();
            url.setPassword({});
            server = url.toString();
        }
        settings.serverUrl = server;
        const results::ParsedAddress parsed =
            results::parseServerAddress(settings.connectionString().toStdString());
        if (!parsed.ok()) {
            showMessage(QStringLiteral("The server's address is not usable: %1")
                            .arg(QString::fromStdString(parsed.error)));
            serverEdit_->setFocus();
            return false;
        }
    }
    settings.save();
    loaded_ = settings;
    serverEdit_->setText(settings.serverUrl);
    passwordEdit_->clear();
    passwordEdit_->setPlaceholderText(settings.serverPassword.isEmpty()
                                          ? QStringLiteral("none")
                                          : QStringLiteral("unchanged (stored)"));
    showMessage({});
    emit saved(settings);
    return true;
}

void ResultsSettingsDialog::accept() {
    if (save()) {
        QDialog::accept();
    }
}

QString ResultsSettingsDialog::message() const {
    return messageLabel_->text();
}

void ResultsSettingsDialog::showMessage(const QString& text) {
    messageLabel_->setText(text);
}

}  // namespace vitalon
