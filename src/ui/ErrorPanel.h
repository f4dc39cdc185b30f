#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace sendova {

class WrappedMessage;

// A failed upload: what went wrong, a way back to the drop zone and a way to
// tell support. Nothing here retries by itself.
class ErrorPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ErrorPanel(QWidget *parent = nullptr);

    void setMessage(const QString &message);
    QString message() const;
    void setOnTryAgain(std::function<void()> action) { m_onTryAgain = std::move(action); }
    void setOnReportError(std::function<void()> action) { m_onReportError = std::move(action); }

    // Exposed for the tests.
    QLabel *title() const { return m_title; }
    QPushButton *tryAgainButton() const { return m_tryAgain; }
    QPushButton *reportButton() const { return m_report; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void render();
    void renderSymbols();

    std::function<void()> m_onTryAgain;
    std::function<void()> m_onReportError;
    QLabel *m_icon = nullptr;
    QLabel *m_title = nullptr;
    WrappedMessage *m_message = nullptr;
    QPushButton *m_tryAgain = nullptr;
    QPushButton *m_report = nullptr;
};

} // namespace sendova
