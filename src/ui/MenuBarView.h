#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace sendova {

class AppViewModel;
class DropZoneView;
class ErrorPanel;
class ResultView;
class UploadProgressView;

// The popover's content: the header, then one body chosen by the state of
// the upload (the drop zone with the recent uploads and the footer, the
// progress, the result or the error). Reads the view model through its
// change signals and acts only through its operations.
class MenuBarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int viewWidth = 320;

    explicit MenuBarView(AppViewModel *viewModel, QWidget *parent = nullptr);

    // Exposed for the tests and the screenshots: what each state shows.
    QToolButton *settingsButton() const { return m_settings; }
    QWidget *idleBody() const { return m_idle; }
    DropZoneView *dropZone() const { return m_dropZone; }
    QWidget *recentSection() const { return m_recentSection; }
    QList<QWidget *> recentRows() const;
    QLabel *recentTitle() const { return m_recentTitle; }
    QToolButton *clearButton() const { return m_clear; }
    QWidget *footer() const { return m_footer; }
    UploadProgressView *progressView() const { return m_progress; }
    ResultView *resultView() const;
    ErrorPanel *errorPanel() const { return m_error; }

Q_SIGNALS:
    // The quit button or Ctrl+Q; whoever hosts the view ends the program.
    void quitRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildIdleBody();
    void renderBody();
    void renderRecents();
    void render();
    void renderSymbols();

    QPointer<AppViewModel> m_viewModel;
    QLabel *m_mark = nullptr;
    QToolButton *m_settings = nullptr;
    QVBoxLayout *m_bodyLayout = nullptr;

    QWidget *m_idle = nullptr;
    DropZoneView *m_dropZone = nullptr;
    QWidget *m_recentDivider = nullptr;
    QWidget *m_recentSection = nullptr;
    QLabel *m_recentTitle = nullptr;
    QToolButton *m_clear = nullptr;
    QVBoxLayout *m_recentRows = nullptr;
    QWidget *m_footer = nullptr;

    UploadProgressView *m_progress = nullptr;
    QPointer<ResultView> m_result;
    ErrorPanel *m_error = nullptr;
};

} // namespace sendova
