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
class SettingsView;
class SetupView;
class UploadProgressView;
class WrappedMessage;

// The popover's content: the header, then one body chosen by the state of
// the upload (the drop zone with the recent uploads and the footer, the
// progress, the result or the error). Reads the view model through its
// change signals and acts only through its operations.
//
// It also presents the settings and setup sheets while the view model asks
// for them: the settings over its window when that is on screen, the setup
// (and the settings with no popover up) as ordinary windows.
class MenuBarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int viewWidth = 320;

    explicit MenuBarView(AppViewModel *viewModel, QWidget *parent = nullptr);
    ~MenuBarView() override;

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
    // The view model's message outside the uploads (a failed save), until
    // the user dismisses it or the next save succeeds.
    QWidget *messageBanner() const { return m_banner; }
    WrappedMessage *bannerMessage() const { return m_bannerMessage; }
    QToolButton *bannerDismissButton() const { return m_bannerDismiss; }

    // The sheets on screen, if any.
    SettingsView *settingsView() const;
    SetupView *setupView() const;
    // A popover must stay open while this is true.
    bool hasSheet() const;

Q_SIGNALS:
    // The quit button, Ctrl+Q or the setup's Cancel; whoever hosts the view
    // ends the program.
    void quitRequested();
    void hasSheetChanged(bool hasSheet);

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildBanner();
    void renderBanner();
    void presentSheets();
    template<typename Sheet>
    void presentSheet(QPointer<Sheet> &sheet, bool wanted);
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

    QWidget *m_banner = nullptr;
    QLabel *m_bannerSymbol = nullptr;
    WrappedMessage *m_bannerMessage = nullptr;
    QToolButton *m_bannerDismiss = nullptr;

    QPointer<SettingsView> m_settingsSheet;
    QPointer<SetupView> m_setupSheet;
};

} // namespace sendova
