#pragma once

#include <QDialog>

#include "ResultsSettings.h"

class QLabel;
class QLineEdit;

namespace vitalon {

// "Results Database...": the shared server that runs are sent to (the local
// store is always written first), its password, the station's name and the
// pattern of valid serial numbers. A stored password is never shown: its
// field stays empty, and left empty it keeps the password.
class ResultsSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ResultsSettingsDialog(const QString& localStore, QWidget* parent = nullptr);

    // Checks the fields and saves them; false, with the reason shown, when one is wrong.
    bool save();
    QString message() const;

    void accept() override;

signals:
    void saved(const ResultsSettings& settings);

private:
    void showMessage(const QString& text);

    ResultsSettings loaded_;
    QLineEdit* serverEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLineEdit* stationEdit_ = nullptr;
    QLineEdit* patternEdit_ = nullptr;
    QLabel* messageLabel_ = nullptr;
};

}  // namespace vitalon
