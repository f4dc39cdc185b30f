#pragma once

#include "app/PopoverWindow.h"
#include "app/SetupLink.h"
#include "model/AppViewModel.h"

#include <QDBusConnection>
#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>

class QAbstractButton;
class QAction;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;

namespace sendova {

class ApplicationService;
class ConfigService;
class TrayHostWatch;

// The tray program: owns the one AppViewModel, the status item and the
// popover for the life of the process, and acts on what the desktop hands
// over (activation, files, setup links) and on clicks on its notifications.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // How long the start waits for a tray host before showing a window.
    static constexpr int trayWaitMs = 5000;

    // The context menu's actions; also the names org.freedesktop.Application's
    // ActivateAction takes.
    static constexpr const char *openAction = "open";
    static constexpr const char *chooseFileAction = "choose-file";
    static constexpr const char *uploadClipboardAction = "upload-clipboard";
    static constexpr const char *uploadScreenshotAction = "upload-screenshot";
    static constexpr const char *settingsAction = "settings";
    static constexpr const char *quitAction = "quit";

    explicit AppDelegate(ConfigService &configService, QDBusConnection bus, QObject *parent = nullptr);
    ~AppDelegate() override;

    void setTrayWait(int milliseconds) { m_trayWaitMs = milliseconds; }

    // Reads the settings (the key without holding up the event loop), sets
    // the language, builds the view model and the popover, and starts
    // looking for a tray. Calls from the desktop that come earlier wait for it.
    void start();
    // Serves the desktop's calls arriving through service.
    void serve(ApplicationService *service);

    // Activate: the popover, next to the pointer.
    void activate();
    // Open: the first URI only. A sendova: link is a setup link, a file is
    // uploaded; anything else is left alone.
    void open(const QStringList &uris);
    void activateAction(const QString &name);
    // Every way out of the tray program ends here: the event loops stop at
    // once, whatever sheet or dialog is up.
    static void quit(int exitCode = 0);

    AppViewModel *viewModel() const { return m_viewModel; }
    PopoverWindow *popover() const { return m_popover; }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    bool isStarted() const { return m_viewModel != nullptr; }

Q_SIGNALS:
    void started();
    // A setup link was dealt with, whatever came of it.
    void setupLinkHandled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QCoro::Task<> launch();
    // The setup sheet is the program's one window until an account is set
    // up; then the popover (or the window standing in for it) takes over.
    void setupShownOrGone();
    void whenStarted(std::function<void()> call);
    void createStatusItem();
    void retranslateMenu();
    void togglePopover();
    void showPopover();
    void chooseFile();
    QCoro::Task<> uploadClipboard();
    QCoro::Task<> uploadScreenshot();
    // Upload Clipboard is offered while the clipboard holds something to upload.
    void offerClipboard();
    void showSettings();
    QCoro::Task<> handleSetupURL(QString link);
    // Before any request: the user sees the server the link names and says yes.
    QCoro::Task<bool> confirmSetup(SetupLink link);
    QCoro::Task<> showAlert(QString title, QString message);
    // Shows the box, waits for its answer and deletes it: the button pressed.
    QCoro::Task<QAbstractButton *> answerOf(QMessageBox *box);
    // The window an alert belongs to: the popover while it is up.
    QWidget *dialogParent() const;
    // `sendova login`, `setup` or `logout` (or a second tray) changed the
    // stored account: config.json is rewritten or removed by every one of
    // them, so its folder is watched, rather than each program telling the
    // running one over the bus (a login over SSH cannot reach this session's
    // bus, but it does reach the file).
    void watchStoredAccount();
    void followStoredAccount();

    ConfigService &m_configService;
    QDBusConnection m_bus;
    int m_trayWaitMs = trayWaitMs;
    QPointer<AppViewModel> m_viewModel;
    QPointer<PopoverWindow> m_popover;
    QSystemTrayIcon *m_statusItem = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_clipboardAction = nullptr;
    // Shown once the desktop's screenshot portal has answered.
    QAction *m_screenshotAction = nullptr;
    TrayHostWatch *m_trayWatch = nullptr;
    QTimer m_trayDeadline;
    QList<std::function<void()>> m_waitingCalls;
    // A file handed over before any account was set up: sent once there is one.
    QUrl m_pendingUpload;
    QFileSystemWatcher *m_accountWatch = nullptr;
    // Writes come as bursts of events (temporary file, rename).
    QTimer m_accountSettle;
    // config.json as last seen: existence, size, change times.
    QString m_configStamp;
    QList<QPointer<QMessageBox>> m_openDialogs;
};

} // namespace sendova
