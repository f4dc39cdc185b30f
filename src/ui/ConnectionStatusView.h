#pragma once

#include "model/SettingsModel.h"

#include <QWidget>

#include <optional>

class QLabel;

namespace sendova {

class BusySpinner;
class WrappedMessage;

// The settings sheet's answer to "Test connection": a spinner while the
// test runs; then the green mark and "Connected", or the red mark and what
// failed; nothing before the first test.
class ConnectionStatusView : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionStatusView(QWidget *parent = nullptr);

    void setStatus(const std::optional<ConnectionStatus> &status, bool testing);
    // The text a status shows, in the language of the moment.
    static QString text(const ConnectionStatus &status);

    // Exposed for the tests.
    QString shownText() const;
    bool isSpinning() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void render();

    std::optional<ConnectionStatus> m_status;
    bool m_testing = false;
    BusySpinner *m_spinner = nullptr;
    QLabel *m_symbol = nullptr;
    WrappedMessage *m_message = nullptr;
};

} // namespace sendova
