#pragma once

#include "config/RecentUpload.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

class QLabel;
class QToolButton;

namespace sendova {

class AppViewModel;
class ElidedLabel;

// One line of the recent uploads: the file's name, how long ago it went up,
// and a button that copies its link. Lights up under the pointer.
class RecentUploadRow : public QWidget
{
    Q_OBJECT

public:
    RecentUploadRow(RecentUpload upload, AppViewModel *viewModel, QWidget *parent = nullptr);

    const RecentUpload &upload() const { return m_upload; }
    bool isHovered() const { return m_hovered; }

    // "5 min ago" in the current language: the time from then to now in the
    // largest whole unit, from seconds to weeks.
    static QString relativeTime(const QDateTime &then, const QDateTime &now);

    // Exposed for the tests.
    QLabel *timeLabel() const { return m_time; }
    QToolButton *copyButton() const { return m_copy; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void render();
    void renderSymbols();

    const RecentUpload m_upload;
    QPointer<AppViewModel> m_viewModel;
    bool m_hovered = false;
    QLabel *m_symbol = nullptr;
    ElidedLabel *m_name = nullptr;
    QLabel *m_time = nullptr;
    QToolButton *m_copy = nullptr;
};

} // namespace sendova
