#include "app/AppDelegate.h"

#include "app/NotificationService.h"
#include "app/PopoverWindow.h"
#include "config/ConfigService.h"
#include "config/LoginService.h"
#include "model/AppViewModel.h"
#include "model/SetupModel.h"
#include "platform/ApplicationService.h"
#include "platform/Clipboard.h"
#include "platform/ClipboardContent.h"
#include "platform/DesktopNotifications.h"
#include "platform/ScreenshotPortal.h"
#include "platform/TrayHostWatch.h"
#include "support/LocalizationService.h"
#include "ui/DropZoneView.h"
#include "ui/MenuBarView.h"
#include "ui/SetupView.h"
#include "ui/SheetFrame.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWindow>

#include <QCoroSignal>

#include <chrono>
#include <cstdio>
#include <utility>

namespace sendova {

namespace {

QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
}

QIcon productIcon()
{
    // The installed theme icon when there is one, so that a theme can
    // restyle it; the built-in copy otherwise.
    return QIcon::fromTheme(QLatin1String(ApplicationService::applicationId),
                            QIcon(QStringLiteral(":/icons/com.sendova.Sendova.svg")));
}

} // namespace

AppDelegate::AppDelegate(ConfigService &configService, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_configService(configService), m_bus(std::move(bus))
{
    m_trayDeadline.setSingleShot(true);
    m_accountSettle.setSingleShot(true);
    m_accountSettle.setInterval(100);
}

AppDelegate::~AppDelegate()
{
    // A question still open at quit is answered as its Escape answers it, so
    // the coroutine waiting on it ends now, instead of the popover deleting
    // the dialog under it.
    for (const QPointer<QMessageBox> &box : std::exchange(m_openDialogs, {})) {
        if (!box)
            continue;
        // The wait resumes through a queued call, which the ended event loop
        // would never deliver: an answer already given goes first, so that
        // the box is never answered twice.
        QCoreApplication::sendPostedEvents(box, QEvent::MetaCall);
        if (box->isVisible()) {
            box->reject();
            QCoreApplication::sendPostedEvents(box, QEvent::MetaCall);
        }
        delete box.data();
    }
    delete m_statusItem;
    delete m_popover;
}

void AppDelegate::start()
{
    qApp->installEventFilter(this);
    QCoro::Task<> launching = launch();
    Q_UNUSED(launching)
}

void AppDelegate::serve(ApplicationService *service)
{
    connect(service, &ApplicationService::activateRequested, this, &AppDelegate::activate);
    connect(service, &ApplicationService::openRequested, this, &AppDelegate::open);
    connect(service, &ApplicationService::actionRequested, this, &AppDelegate::activateAction);
}

QCoro::Task<> AppDelegate::launch()
{
    QPointer<AppDelegate> self(this);
    auto loading = m_configService.loadConfigAsync();
    const AppConfig config = co_await std::move(loading);
    if (!self)
        co_return;
    LocalizationService::shared().setLanguage(
        languageFromCode(config.languageCode).value_or(Language::english));

    DesktopActions desktop;
    desktop.copyToClipboard = [](const QString &text) { return Clipboard::writeText(text).confirmed(); };
    desktop.showUploadComplete = [this](const QString &name, const QString &url) {
        NotificationService::shared().showUploadComplete(name, url, m_viewModel->uncopiedLink() == url);
    };
    desktop.showDuplicate = [this](const QString &name, const QString &url) {
        NotificationService::shared().showDuplicate(name, url, m_viewModel->uncopiedLink() == url);
    };
    desktop.showError = [](const QString &name, const QString &message) {
        NotificationService::shared().showError(name, message);
    };
    m_viewModel = new AppViewModel(m_configService, std::move(desktop), this);
    m_popover = new PopoverWindow(m_viewModel);
    connect(m_popover->view(), &MenuBarView::quitRequested, this, [] { quit(); });
    connect(m_popover, &PopoverWindow::windowClosed, this, [] { quit(); });
    connect(m_viewModel, &AppViewModel::showSetupChanged, this, &AppDelegate::setupShownOrGone);
    watchStoredAccount();

    // No tray host yet: give the panel a moment to come up, then show a
    // window rather than run where nobody can see it.
    m_trayWatch = new TrayHostWatch(m_bus, this);
    connect(m_trayWatch, &TrayHostWatch::available, this, &AppDelegate::createStatusItem);
    connect(&m_trayDeadline, &QTimer::timeout, this, [this] {
        if (m_statusItem)
            return;
        m_popover->setMode(PopoverWindow::Mode::window);
        // The setup sheet stays the one window: the drop zone is of no use
        // before there is an account.
        if (!m_viewModel->showSetup())
            m_popover->present();
    });
    m_trayDeadline.start(m_trayWaitMs);
    m_trayWatch->start();
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &AppDelegate::retranslateMenu);

    if (!m_viewModel->config().isConfigured())
        m_viewModel->setShowSetup(true);
    Q_EMIT started();
    const QList<std::function<void()>> waiting = std::exchange(m_waitingCalls, {});
    for (const auto &call : waiting)
        call();

    // The desktop's equivalent of asking for permission: is anybody there
    // to show notifications at all?
    auto asking = DesktopNotifications::serverAvailable(m_bus);
    const bool answered = co_await std::move(asking);
    if (!answered) {
        std::fputs("Notification authorization error: no notification server on the session bus\n", stdout);
        std::fflush(stdout);
    }
}

void AppDelegate::whenStarted(std::function<void()> call)
{
    if (isStarted())
        call();
    else
        m_waitingCalls << std::move(call);
}

void AppDelegate::createStatusItem()
{
    if (m_statusItem)
        return;
    m_trayDeadline.stop();
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(QString(), this, &AppDelegate::showPopover);
    m_menu->addAction(QString(), this, &AppDelegate::chooseFile);
    m_clipboardAction = m_menu->addAction(QString(), this, [this] {
        QCoro::Task<> pasting = uploadClipboard();
        Q_UNUSED(pasting)
    });
    m_screenshotAction = m_menu->addAction(QString(), this, [this] {
        QCoro::Task<> taking = uploadScreenshot();
        Q_UNUSED(taking)
    });
    m_screenshotAction->setVisible(false);
    m_menu->addAction(QString(), this, &AppDelegate::showSettings);
    m_menu->addSeparator();
    m_menu->addAction(QString(), this, [] { quit(); });

    connect(m_menu.get(), &QMenu::aboutToShow, this, &AppDelegate::offerClipboard);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &AppDelegate::offerClipboard);
    offerClipboard();
    // Asked once: a desktop does not gain or lose its portal while it runs.
    [](QPointer<AppDelegate> self, QDBusConnection bus) -> QCoro::Task<> {
        auto asking = ScreenshotPortal::available(bus);
        const bool available = co_await std::move(asking);
        if (self && self->m_screenshotAction)
            self->m_screenshotAction->setVisible(available);
    }(this, m_bus);

    m_statusItem = new QSystemTrayIcon(productIcon());
    m_statusItem->setContextMenu(m_menu.get());
    // Once the item exists: its tooltip is what panels read out as its name.
    retranslateMenu();
    connect(m_statusItem, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    togglePopover();
                else if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::MiddleClick)
                    showPopover();
            });
    m_statusItem->show();
    // Shown as a window until now: from here on it is the popover again.
    if (m_popover->mode() == PopoverWindow::Mode::window)
        m_popover->setMode(PopoverWindow::Mode::popover);
}

void AppDelegate::retranslateMenu()
{
    if (m_statusItem)
        m_statusItem->setToolTip(QStringLiteral("Sendova"));
    if (!m_menu)
        return;
    const QList<QAction *> actions = m_menu->actions();
    const char *keys[] = {
        "tray.open", "tray.choose_file", "tray.upload_clipboard", "tray.upload_screenshot", "menu.settings",
        nullptr,     "menu.quit"};
    for (qsizetype i = 0; i < actions.size() && i < qsizetype(std::size(keys)); ++i) {
        if (keys[i])
            actions[i]->setText(text(keys[i]));
    }
}

void AppDelegate::togglePopover()
{
    if (SetupView *setup = m_popover->view()->setupView())
        sheet::bringUp(setup);
    else
        m_popover->toggle(m_statusItem ? m_statusItem->geometry() : QRect());
}

void AppDelegate::showPopover()
{
    if (SetupView *setup = m_popover->view()->setupView())
        sheet::bringUp(setup);
    else
        m_popover->present(m_statusItem ? m_statusItem->geometry() : QRect());
}

void AppDelegate::setupShownOrGone()
{
    if (m_viewModel->showSetup()) {
        m_popover->hide();
        return;
    }
    if (!m_viewModel->config().isConfigured())
        return;
    // Without a tray the window is the way back to the drop zone; with one,
    // the popover shows where the account now leads.
    if (m_statusItem || m_popover->mode() == PopoverWindow::Mode::window)
        showPopover();
    if (!m_pendingUpload.isEmpty()) {
        QCoro::Task<> uploading = m_viewModel->startUpload(std::exchange(m_pendingUpload, QUrl()));
        Q_UNUSED(uploading)
    }
}

void AppDelegate::quit(int exitCode)
{
    // Not QCoreApplication::quit(): that first closes every window and gives
    // up when one refuses, and the sheets refuse (their close is Cancel).
    QCoreApplication::exit(exitCode);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // The desktop's way of ending the program (the session ends) arrives as
    // the same quit request, and must not be refused either.
    if (watched == qApp && event->type() == QEvent::Quit) {
        quit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// Before sign-in, both lead to the setup: there is no account to upload
// with or to set.
void AppDelegate::chooseFile()
{
    showPopover();
    if (!m_viewModel->showSetup())
        m_popover->view()->dropZone()->openFileChooser();
}

namespace {

// Wayland hands the clipboard only to the window with the keyboard focus:
// while the menu is up (drawn by the panel), this program cannot see it.
bool clipboardNeedsFocus()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

void AppDelegate::offerClipboard()
{
    if (m_clipboardAction)
        m_clipboardAction->setEnabled(clipboardNeedsFocus() ||
                                      ClipboardContent::offered(QGuiApplication::clipboard()->mimeData()));
}

QCoro::Task<> AppDelegate::uploadClipboard()
{
    QPointer<AppDelegate> self(this);
    showPopover();
    if (m_viewModel->showSetup())
        co_return;
    if (clipboardNeedsFocus()) {
        // The popover takes the focus, and the compositor then offers it
        // the clipboard.
        using namespace std::chrono_literals;
        if (!m_popover->isActiveWindow()) {
            auto focusing = qCoro(qGuiApp, &QGuiApplication::focusWindowChanged, 2s);
            co_await std::move(focusing);
        }
        if (self && !ClipboardContent::offered(QGuiApplication::clipboard()->mimeData())) {
            auto offering = qCoro(QGuiApplication::clipboard(), &QClipboard::dataChanged, 500ms);
            co_await std::move(offering);
        }
        if (!self)
            co_return;
    }
    const ClipboardContent content = ClipboardContent::from(QGuiApplication::clipboard()->mimeData());
    QCoro::Task<> uploading = m_viewModel->startPasteUpload(content);
    Q_UNUSED(uploading)
}

QCoro::Task<> AppDelegate::uploadScreenshot()
{
    QPointer<AppDelegate> self(this);
    if (m_viewModel->showSetup()) {
        showPopover();
        co_return;
    }
    // Out of the picture.
    m_popover->hide();
    auto taking = ScreenshotPortal::take(m_bus);
    const ScreenshotPortal::Outcome outcome = co_await std::move(taking);
    if (!self || outcome.kind == ScreenshotPortal::Outcome::Kind::cancelled)
        co_return;
    if (outcome.kind == ScreenshotPortal::Outcome::Kind::failed) {
        std::fprintf(stderr, "sendova: screenshot failed: %s\n", qPrintable(outcome.reason));
        auto telling = showAlert(QStringLiteral("Error"), text("error.screenshot.failed"));
        co_await std::move(telling);
        co_return;
    }
    QCoro::Task<> uploading = m_viewModel->startScreenshotUpload(outcome.file);
    Q_UNUSED(uploading)
    showPopover();
}

void AppDelegate::showSettings()
{
    showPopover();
    if (!m_viewModel->showSetup())
        m_viewModel->setShowSettings(true);
}

void AppDelegate::activate()
{
    whenStarted([this] { showPopover(); });
}

void AppDelegate::activateAction(const QString &name)
{
    whenStarted([this, name] {
        if (name == QLatin1String(openAction))
            showPopover();
        else if (name == QLatin1String(chooseFileAction))
            chooseFile();
        else if (name == QLatin1String(uploadClipboardAction)) {
            QCoro::Task<> pasting = uploadClipboard();
            Q_UNUSED(pasting)
        } else if (name == QLatin1String(uploadScreenshotAction)) {
            QCoro::Task<> taking = uploadScreenshot();
            Q_UNUSED(taking)
        } else if (name == QLatin1String(settingsAction))
            showSettings();
        else if (name == QLatin1String(quitAction))
            quit();
    });
}

void AppDelegate::open(const QStringList &uris)
{
    if (uris.isEmpty())
        return;
    const QString first = uris.first();
    whenStarted([this, first] {
        // The scheme as written: "Sendova:" is not a setup link.
        if (first.startsWith(QLatin1String("sendova:"))) {
            QCoro::Task<> handling = handleSetupURL(first);
            Q_UNUSED(handling)
            return;
        }
        const QUrl url(first, QUrl::StrictMode);
        if (!url.isLocalFile())
            return;
        if (m_viewModel->showSetup()) {
            m_pendingUpload = url;
            showPopover();
            return;
        }
        QCoro::Task<> uploading = m_viewModel->startUpload(url);
        Q_UNUSED(uploading)
        showPopover();
    });
}

QCoro::Task<> AppDelegate::handleSetupURL(QString link)
{
    QPointer<AppDelegate> self(this);
    const std::optional<SetupLink> setup = SetupLink::parse(link);
    if (!setup) {
        Q_EMIT setupLinkHandled();
        co_return;
    }
    if (setup->serverRefused) {
        // Nothing is asked and nothing is sent; only the user hears of it.
        auto telling = showAlert(QStringLiteral("Error"), text("setup_link.error.server_refused"));
        co_await std::move(telling);
        if (self)
            Q_EMIT setupLinkHandled();
        co_return;
    }
    auto asking = confirmSetup(*setup);
    const bool confirmed = co_await std::move(asking);
    if (!self || !m_viewModel)
        co_return;
    if (confirmed) {
        // Owned by the view model it writes to: when the program ends during
        // the exchange, both go, and the late reply finds nothing to store into.
        QPointer<SetupModel> setupModel = new SetupModel(*m_viewModel, LoginService::shared(), m_viewModel);
        auto exchange = setupModel->performSetup(setup->token, setup->serverUrl);
        const SetupOutcome outcome = co_await std::move(exchange);
        delete setupModel.data();
        if (!self)
            co_return;
        auto telling = showAlert(outcome.title, outcome.message);
        co_await std::move(telling);
        if (!self)
            co_return;
    }
    Q_EMIT setupLinkHandled();
}

QCoro::Task<bool> AppDelegate::confirmSetup(SetupLink link)
{
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("Sendova"),
                                text("setup_link.confirm.title"), QMessageBox::NoButton, dialogParent());
    box->setInformativeText(text("setup_link.confirm.message").arg(link.serverUrl));
    QPushButton *connectButton = box->addButton(text("setup_link.confirm.connect"), QMessageBox::AcceptRole);
    QPushButton *cancelButton = box->addButton(text("setup_link.confirm.cancel"), QMessageBox::RejectRole);
    // Declining is the safe answer, and the one Return gives.
    box->setDefaultButton(cancelButton);
    box->setEscapeButton(cancelButton);
    auto answering = answerOf(box);
    co_return co_await std::move(answering) == connectButton;
}

QCoro::Task<> AppDelegate::showAlert(QString title, QString message)
{
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Sendova"), title, QMessageBox::Ok,
                                dialogParent());
    box->setInformativeText(message);
    auto answering = answerOf(box);
    co_await std::move(answering);
}

QCoro::Task<QAbstractButton *> AppDelegate::answerOf(QMessageBox *box)
{
    // On the heap, never in a coroutine's frame: the popover it sits on
    // deletes its children when the program ends, and the destructor above
    // ends the wait first.
    m_openDialogs.append(box);
    box->setWindowModality(Qt::ApplicationModal);
    box->open();
    co_await qCoro(box, &QDialog::finished);
    m_openDialogs.removeAll(box);
    box->deleteLater();
    co_return box->clickedButton();
}

namespace {

QString fileStamp(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    // A rename puts a new file in place: its change time moves even when
    // size and modification time happen to match the old one's.
    return QStringLiteral("%1 %2 %3")
        .arg(info.size())
        .arg(info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch())
        .arg(info.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch());
}

} // namespace

void AppDelegate::watchStoredAccount()
{
    m_configStamp = fileStamp(m_configService.configURL());
    m_accountWatch = new QFileSystemWatcher({m_configService.folder()}, this);
    connect(m_accountWatch, &QFileSystemWatcher::directoryChanged, &m_accountSettle,
            qOverload<>(&QTimer::start));
    connect(&m_accountSettle, &QTimer::timeout, this, &AppDelegate::followStoredAccount);
}

void AppDelegate::followStoredAccount()
{
    // recents.json lives in the same folder and changes with every upload.
    const QString stamp = fileStamp(m_configService.configURL());
    if (stamp == m_configStamp || !m_viewModel)
        return;
    m_configStamp = stamp;
    QCoro::Task<> following = m_viewModel->followStoredAccountAsync();
    Q_UNUSED(following)
}

QWidget *AppDelegate::dialogParent() const
{
    return m_popover && m_popover->isVisible() ? m_popover.data() : nullptr;
}

} // namespace sendova
