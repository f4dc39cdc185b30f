#pragma once

#include "upload/UploadProgress.h"

#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sendova {

class ElidedLabel;
class TabularLabel;

// The upload under way: the file, the step it is in, one bar for the whole
// job, and while bytes are moving the speed, the bytes sent and the time
// left. Only reads the progress it is given.
class UploadProgressView : public QWidget
{
    Q_OBJECT

public:
    // The bar's resolution: fine enough that a large file keeps it moving.
    static constexpr int barSteps = 10000;

    explicit UploadProgressView(QWidget *parent = nullptr);

    void setProgress(const UploadProgress &progress);
    const UploadProgress &progress() const { return m_progress; }
    // With an action there is a cancel button, in every state; without, none.
    void setOnCancel(std::function<void()> onCancel);

    // The status line's text for a progress: the step, and while hashing the
    // whole percent hashed.
    static QString statusText(const UploadProgress &progress);
    // Where the bar stands, 0 to 1: hashing fills the first tenth, the
    // transfer the other nine.
    static double barValue(const UploadProgress &progress);
    // "1.2 MB": decimal units, as file managers show sizes.
    static QString byteCount(qint64 bytes);

    // Exposed for the tests.
    QProgressBar *bar() const { return m_bar; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void render();
    void renderSymbols();

    UploadProgress m_progress;
    std::function<void()> m_onCancel;

    QLabel *m_fileSymbol = nullptr;
    ElidedLabel *m_fileName = nullptr;
    QLabel *m_fileSize = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_bar = nullptr;
    TabularLabel *m_percentage = nullptr;
    TabularLabel *m_speed = nullptr;
    QWidget *m_transferRow = nullptr;
    QLabel *m_sentSymbol = nullptr;
    TabularLabel *m_sent = nullptr;
    QLabel *m_timeSymbol = nullptr;
    TabularLabel *m_timeLeft = nullptr;
    QPushButton *m_cancel = nullptr;
};

} // namespace sendova
