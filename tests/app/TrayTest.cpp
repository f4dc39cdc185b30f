// The tray program in one process on a private X server, against real peers
// on the session bus: a panel's status-notifier watcher, a second `sendova`
// process and the loopback HTTP server.
#include "../config/KeychainTestSupport.h"
#include "../support/XvfbDisplay.h"
#include "ChildSignal.h"
#include "LoopbackHttpServer.h"
#include "SwaySession.h"
#include "TestStatusNotifierWatcher.h"
#include "app/AppDelegate.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "platform/ApplicationService.h"
#include "ui/DropZoneView.h"
#include "ui/MenuBarView.h"
#include "ui/SettingsView.h"
#include "ui/SetupView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDBusInterface>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/prctl.h>

using namespace sendova;
using namespace sendova::test;

namespace {

QMessageBox *shownMessageBox(const QString &text = QString())
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (box && box->isVisible() && (text.isEmpty() || box->text() == text))
            return box;
    }
    return nullptr;
}

} // namespace

class TrayTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    LoopbackHttpServer m_server;
    TestStatusNotifierWatcher m_watcher;
    std::unique_ptr<ConfigService> m_config;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<ApplicationService> m_service;

    // A first start: no settings, no key. Directly, without the keyring's
    // unlock step, which this test has no reason to meet.
    void forgetAccount()
    {
        QFile::remove(m_config->configURL());
        QFile::remove(m_config->recentsURL());
        KeychainService::shared().deleteAPIKey();
    }

    // The built program, with this test's settings, key and recent uploads.
    void startSendova(QProcess &process, const QStringList &args = {},
                      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        environment.insert(u"XDG_DATA_HOME"_qs, m_root.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SENDOVA_BINARY), args);
    }

    void startDelegate(int trayWait = AppDelegate::trayWaitMs)
    {
        m_delegate = std::make_unique<AppDelegate>(*m_config, QDBusConnection::sessionBus());
        m_delegate->setTrayWait(trayWait);
        m_service = std::make_unique<ApplicationService>(QDBusConnection::sessionBus());
        QVERIFY(m_service->registerInstance());
        m_delegate->serve(m_service.get());
        m_delegate->start();
        QTRY_VERIFY(m_delegate->isStarted());
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv(AppConfig::serverOverrideVariable);
        m_config = std::make_unique<ConfigService>(m_root.filePath(QStringLiteral("Sendova")));
        AppConfig config = AppConfig::defaults();
        config._serverUrl = m_server.baseUrl() + QStringLiteral("/old");
        config.apiKey = QStringLiteral("sk_old");
        config.checkForDuplicates = false;
        // The session bus's notification server belongs to other tests.
        config.showNotifications = false;
        m_config->saveConfig(config);
    }

    void cleanup()
    {
        while (QWidget *box = shownMessageBox())
            box->close();
        m_service.reset();
        m_delegate.reset();
        KeychainService::shared().deleteAPIKey();
    }

    // First: Qt settles whether there is a tray when first asked, so this
    // fails when the program asks before the watcher is there.
    void trayHostArrivingLaterGetsTheItem()
    {
        startDelegate(200);
        QTRY_COMPARE(m_delegate->popover()->mode(), PopoverWindow::Mode::window);

        QVERIFY(m_watcher.start());
        QTRY_COMPARE(m_watcher.registeredItems().size(), 1);
        QCOMPARE(m_delegate->popover()->mode(), PopoverWindow::Mode::popover);
        // What panels read out as the item's name.
        QCOMPARE(m_delegate->statusItem()->toolTip(), u"Sendova"_qs);
    }

    // The built program, on the first start or with the settings up, ended
    // by the signal a session's end sends, or by Ctrl-C in its terminal: at
    // once, with 143 or 130.
    void signalEndsTheProgram_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<int>("signal");
        QTest::newRow("first start: the setup, SIGTERM") << false << SIGTERM;
        QTest::newRow("the settings, SIGINT") << true << SIGINT;
    }

    void signalEndsTheProgram()
    {
        QFETCH(bool, configured);
        QFETCH(int, signal);
        if (!configured)
            forgetAccount();
        const qsizetype items = m_watcher.registeredItems().size();
        QProcess sendova;
        startSendova(sendova);
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registeredItems().size() > items, 10000);
        const QString service = m_watcher.registeredItems().constLast().section(u'/', 0, 0);
        QDBusInterface item(service, u"/StatusNotifierItem"_qs, u"org.kde.StatusNotifierItem"_qs);
        QCOMPARE(item.property("Title").toString(), u"Sendova"_qs);
        if (configured) {
            QDBusInterface application(QLatin1String(ApplicationService::applicationId),
                                       QLatin1String(ApplicationService::objectPath),
                                       u"org.freedesktop.Application"_qs);
            application.call(u"ActivateAction"_qs, u"settings"_qs, QVariantList(), QVariantMap());
        }
        // The sheet is up by then.
        QTest::qWait(1000);
        QVERIFY(signalChild(sendova.processId(), signal));
        QVERIFY2(sendova.waitForFinished(1000), "still running a second after the signal");
        QCOMPARE(sendova.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sendova.exitCode(), 128 + signal);
    }

    // On a Wayland desktop (headless sway, without and with XWayland), the
    // program native there: `sendova FILE` in another folder hands the file
    // over; the popover has the keyboard focus and goes on Escape; an upload
    // that ends with it closed leaves the link where any Wayland program
    // reads it; the keeper holding the link leaves when another program
    // copies or clears; Copy in the result view copies again; and the
    // popover goes when the focus moves elsewhere.
    void waylandDesktop_data()
    {
        QTest::addColumn<bool>("xwayland");
        QTest::newRow("sway, then another copy") << false;
        QTest::newRow("sway with XWayland, then a clear") << true;
    }

    void waylandDesktop()
    {
        QFETCH(bool, xwayland);
        if (!SwaySession::available())
            QSKIP("sway, wl-clipboard or wtype is missing (scripts/install-deps installs them)");
        SwaySession sway(xwayland ? SwaySession::XWayland::on : SwaySession::XWayland::off);
        QVERIFY2(sway.start(), sway.errorText().constData());
        const QProcessEnvironment desktop = sway.environment();
        // Sway's answers: 0 when a window matches, 2 when none does.
        const auto sendovaWindow = [&sway](bool focused) {
            return sway.run(u"swaymsg"_qs, {u"-q"_qs, focused ? u"[title=Sendova con_id=__focused__] nop"_qs
                                                              : u"[title=Sendova] nop"_qs});
        };

        // A panel, so that it opens as a popover.
        m_watcher.stop();
        QVERIFY(m_watcher.start());
        const qsizetype items = m_watcher.registeredItems().size();
        QProcess tray;
        startSendova(tray, {}, desktop);
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registeredItems().size() > items, 20000);

        // The upload's reply waits for a request from here, so that the
        // popover is closed by then.
        const QByteArray link = "https://s.example/f/wayland";
        ScriptedReply reply = ScriptedReply::json(
            200,
            R"({"Success":true,"Data":{"Url":")" + link +
                R"(","ShortCode":"wayland","FileName":"config.json","FileSize":6,"IsDuplicate":false}})");
        const qsizetype before = m_server.requests().size();
        reply.answerTogether = int(before) + 2;
        m_server.enqueue(reply);
        QProcess handOver;
        handOver.setWorkingDirectory(m_root.path());
        startSendova(handOver, {u"Sendova/config.json"_qs}, desktop);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(true), 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() == before + 1 &&
                                     m_server.requests().last().body.contains("serverUrl"),
                                 20000);
        QCOMPARE(sway.run(u"wtype"_qs, {u"-k"_qs, u"Escape"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(false), 2, 20000);
        QCOMPARE(sway.run(u"curl"_qs, {u"-s"_qs, u"-o"_qs, u"/dev/null"_qs, m_server.baseUrl()}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sway.clipboard(), std::optional(link), 20000);

        QTRY_COMPARE_WITH_TIMEOUT(adoptedKeepers().size(), 1, 20000);
        QCOMPARE(sway.run(u"wl-copy"_qs, {xwayland ? u"--clear"_qs : u"newer"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(adoptedKeepers().size(), 0, 20000);

        // Reopened, it still shows the link. Copy from the keyboard, as there
        // is no pointer: past the settings button and the link itself.
        QProcess reopen;
        startSendova(reopen, {}, desktop);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(true), 0, 20000);
        QCOMPARE(sway.run(u"wtype"_qs, {u"-k"_qs, u"Tab"_qs, u"-k"_qs, u"Tab"_qs, u"-k"_qs, u"Tab"_qs,
                                        u"-k"_qs, u"space"_qs}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(sway.clipboard(), std::optional(link), 20000);

        QCOMPARE(sway.run(u"swaymsg"_qs, {u"workspace"_qs, u"elsewhere"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(false), 2, 20000);
        tray.terminate();
        tray.waitForFinished();
    }

    // Whatever sheet is up, a quit is not refused: it ends the event loop
    // at once, with 0, and a link it copied stays on the clipboard.
    void everyWayOutEndsIt_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<QString>("way");
        QTest::newRow("first start: the setup's close button") << false << u"close"_qs;
        QTest::newRow("first start: the session ends") << false << u"session"_qs;
        QTest::newRow("settings up: the tray menu's Quit") << true << u"menu"_qs;
        QTest::newRow("settings up: the session ends") << true << u"session"_qs;
        QTest::newRow("settings up: the popover's Quit") << true << u"popover"_qs;
        QTest::newRow("first start: the desktop entry's Quit") << false << u"action"_qs;
    }

    void everyWayOutEndsIt()
    {
        QFETCH(bool, configured);
        QFETCH(QString, way);
        if (!configured)
            forgetAccount();
        startDelegate(60000);
        QTRY_VERIFY(m_delegate->statusItem());
        MenuBarView *view = m_delegate->popover()->view();
        if (configured)
            m_delegate->activateAction(QLatin1String(AppDelegate::settingsAction));
        QTRY_VERIFY(configured ? static_cast<QWidget *>(view->settingsView()) : view->setupView());
        QWidget *sheet = configured ? static_cast<QWidget *>(view->settingsView()) : view->setupView();
        QTRY_VERIFY(sheet->isVisible());
        const QString link = u"https://s.example/f/"_qs + way;
        QVERIFY(m_delegate->viewModel()->copyLink(link));
        QTimer::singleShot(0, this, [this, sheet, way] {
            if (way == u"close")
                sheet->close();
            else if (way == u"menu")
                m_delegate->statusItem()->contextMenu()->actions().constLast()->trigger();
            else if (way == u"popover")
                Q_EMIT m_delegate->popover()->view()->quitRequested();
            else if (way == u"action")
                m_delegate->activateAction(QLatin1String(AppDelegate::quitAction));
            else
                QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
        });
        QTimer::singleShot(1000, this, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        // Served by a keeper now, as this process's end would take it along.
        QTRY_COMPARE_WITH_TIMEOUT(adoptedKeepers().size(), 1, 20000);
        QCOMPARE(readClipboard(), std::optional(link.toUtf8()));
    }

    // It closes when another window takes the focus, but not under its own alert.
    void popoverStaysUnderItsDialog()
    {
        startDelegate(60000);
        PopoverWindow *popover = m_delegate->popover();
        // Without a window manager, X ignores focus requests stamped before the
        // last unmap, and nothing here makes time pass for it: the switches of
        // focus are made in the toolkit instead. Opened by a click on the item.
        QTRY_VERIFY(m_delegate->statusItem());
        Q_EMIT m_delegate->statusItem()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(popover->isVisible());
        QApplication::setActiveWindow(popover);
        QMessageBox alert(QMessageBox::Information, u"Sendova"_qs, u"Alert"_qs, QMessageBox::Ok, popover);
        alert.open();
        QApplication::setActiveWindow(&alert);
        QTest::qWait(50);
        QVERIFY(popover->isVisible());
        alert.close();
        QApplication::setActiveWindow(popover);

        QWidget elsewhere;
        elsewhere.show();
        QApplication::setActiveWindow(&elsewhere);
        QTRY_VERIFY(!popover->isVisible());
    }

    // A file manager's drag proposes a move (Shift held, or its own
    // default): the drop zone answers with a copy, or the source may delete
    // the original.
    void dropIsACopy()
    {
        startDelegate(60000);
        DropZoneView *zone = m_delegate->popover()->view()->dropZone();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(m_root.filePath(u"Sendova/config.json"_qs))});
        const QPoint centre = zone->rect().center();
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(enter.proposedAction(), Qt::MoveAction);
        QApplication::sendEvent(zone, &enter);
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDragMoveEvent move(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(zone, &move);
        QCOMPARE(move.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(centre), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(zone, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
    }

    // A first start without a tray: the setup is the one window, also once
    // the wait for a tray is over; a file handed over meanwhile waits for the
    // account, and the drop zone comes with it, as a window whose close ends
    // the program.
    void setupComesFirst()
    {
        // No panel any more.
        m_watcher.stop();
        forgetAccount();
        qputenv(AppConfig::serverOverrideVariable, m_server.baseUrl().toUtf8());
        startDelegate(100);
        QTRY_VERIFY(m_delegate->popover()->view()->setupView());
        SetupView *setup = m_delegate->popover()->view()->setupView();
        QTRY_VERIFY(setup->isVisible());
        QCOMPARE(setup->parentWidget(), nullptr);
        QCOMPARE(setup->windowTitle(), u"Sendova"_qs);
        QTRY_COMPARE(m_delegate->popover()->mode(), PopoverWindow::Mode::window);
        QTest::qWait(200);
        QVERIFY(!m_delegate->popover()->isVisible());

        QTemporaryDir folder;
        QFile sample(folder.filePath(u"early.txt"_qs));
        QVERIFY(sample.open(QIODevice::WriteOnly) && sample.write("early\n") == 6 && sample.flush());
        const qsizetype before = m_server.requests().size();
        m_delegate->open({QUrl::fromLocalFile(sample.fileName()).toString()});
        QTest::qWait(100);
        QCOMPARE(m_server.requests().size(), before);
        QVERIFY(!m_delegate->popover()->isVisible());

        m_server.enqueue(ScriptedReply::json(200, "{}"));
        m_server.enqueue(ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":false}})"));
        setup->model()->setSetupMode(SetupMode::apiKey);
        setup->model()->setApiKey(u"sk_new"_qs);
        setup->primaryButton()->click();
        QTRY_VERIFY(m_delegate->popover()->isVisible());
        QVERIFY(!m_delegate->popover()->view()->setupView());
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() >= before + 3 &&
                                     m_server.requests()[before + 2].body.contains("early\n"),
                                 10000);
        // Without a tray, closing the window ends the program.
        QTimer::singleShot(0, m_delegate->popover(), &QWidget::close);
        QTimer::singleShot(5000, this, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    // Ten recent uploads on a short screen: however the popover grows as the
    // upload goes through its states, all of it stays on the screen.
    void popoverStaysOnScreen()
    {
        startDelegate(60000);
        AppViewModel *model = m_delegate->viewModel();
        QList<RecentUpload> recents;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < 10; ++i)
            recents << RecentUpload::make(u"file-%1.txt"_qs.arg(i), 1000, u"https://s.example/f/%1"_qs.arg(i),
                                          now, now.addDays(1));
        PopoverWindow *popover = m_delegate->popover();
        const QRect screen = popover->screen()->availableGeometry();
        // Opened from a panel at the bottom, and then at the top.
        for (const QPoint pointer : {QPoint(screen.center().x(), screen.bottom() - 2), QPoint(40, 2)}) {
            model->setRecentUploads({});
            model->setUploadProgress(UploadProgress{});
            QCursor::setPos(pointer);
            popover->present();
            QTRY_VERIFY(popover->isVisible());
            const QList<UploadState> states{UploadState::idle(), UploadState::uploading(),
                                            UploadState::completed(u"https://s.example/f/new"_qs, false),
                                            UploadState::failed(u"The server refused the upload."_qs)};
            model->setRecentUploads(recents);
            for (const UploadState &state : states) {
                model->setUploadProgress(UploadProgress{state, u"new.txt"_qs, 1000, 500, 100});
                QTest::qWait(50);
                QVERIFY2(screen.contains(popover->frameGeometry()),
                         qPrintable(u"%1x%2 at %3,%4"_qs.arg(popover->width())
                                        .arg(popover->height())
                                        .arg(popover->x())
                                        .arg(popover->y())));
            }
            popover->hide();
        }
    }

    // `sendova login` and `logout` in other processes take effect in the
    // running program at once: a login over SSH (no bus, so the keyring keeps
    // the old key) wins with the key it wrote last, and after a logout
    // nothing is sent or written.
    void followsTheAccountOtherProgramsStore()
    {
        startDelegate();
        AppViewModel *model = m_delegate->viewModel();
        QTemporaryDir files;
        const auto sendova = [this, &files](const QStringList &args, bool withBus) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            // As over SSH: no bus, and no display to start one for.
            if (!withBus) {
                env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
                env.remove(QStringLiteral("DISPLAY"));
            }
            process.setWorkingDirectory(files.path());
            startSendova(process, args, env);
            process.write("sk_bob\n");
            process.closeWriteChannel();
            // This process's event loop runs meanwhile: the delegate answers.
            const bool ended =
                QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000);
            return ended ? process.exitCode() : -1;
        };
        const qsizetype before = m_server.requests().size();
        m_server.enqueue(ScriptedReply::json(200, R"({"success":true})"));
        QCOMPARE(sendova({u"login"_qs, u"--server"_qs, m_server.baseUrl() + u"/bob/"_qs,
                          u"--api-key-stdin"_qs, u"--insecure-storage"_qs},
                         false),
                 0);
        QCOMPARE(keyringSecret(), std::optional<QString>(u"sk_old"_qs));
        QTRY_COMPARE(model->config().apiKey, u"sk_bob"_qs);

        QFile sample(files.filePath(u"sample.txt"_qs));
        QVERIFY(sample.open(QIODevice::WriteOnly) && sample.write("hello\n") == 6 && sample.flush());
        const QString uri = QUrl::fromLocalFile(sample.fileName()).toString();
        m_delegate->open({uri});
        QTRY_COMPARE(m_server.requests().size(), before + 2);
        QCOMPARE(m_server.requests().last().target, QByteArray("/bob/api/upload"));
        QCOMPARE(m_server.requests().last().header("X-API-Key"), std::optional<QByteArray>("sk_bob"));

        QCOMPARE(sendova({u"logout"_qs}, true), 0);
        QTRY_VERIFY(model->showSetup());
        QVERIFY(!model->config().isConfigured());
        m_delegate->open({uri});
        QTest::qWait(500);
        QCOMPARE(m_server.requests().size(), before + 2);
        QVERIFY(!QFileInfo::exists(m_config->recentsURL()));
    }

    void setupLinkAsksFirst_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("confirmed") << true;
        QTest::newRow("declined") << false;
    }

    void setupLinkAsksFirst()
    {
        QFETCH(bool, confirmed);
        startDelegate();
        m_server.enqueue(ScriptedReply::json(
            200, R"({"success":true,"apiKey":"sk_1","tenantName":"Acme","userName":"ana"})"));
        QSignalSpy handled(m_delegate.get(), &AppDelegate::setupLinkHandled);

        m_delegate->open({QStringLiteral("sendova://setup?token=T1&server=") + m_server.baseUrl()});
        QTRY_VERIFY(shownMessageBox());
        const auto answer = confirmed ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        QMessageBox *box = shownMessageBox();
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == answer)
                button->click();
        }
        if (confirmed) {
            QTRY_VERIFY(shownMessageBox(QStringLiteral("Sendova Configured")));
            shownMessageBox(QStringLiteral("Sendova Configured"))->button(QMessageBox::Ok)->click();
        }
        QTRY_COMPARE(handled.size(), 1);
        QCOMPARE(m_config->loadConfig().apiKey,
                 confirmed ? QStringLiteral("sk_1") : QStringLiteral("sk_old"));
    }

    // A server the link may not name: said so, nothing asked, nothing sent.
    void setupLinkWithAnUnusableServer()
    {
        startDelegate();
        QSignalSpy handled(m_delegate.get(), &AppDelegate::setupLinkHandled);
        const qsizetype before = m_server.requests().size();
        m_delegate->open({u"sendova://setup?token=T&server=file:///etc/passwd"_qs});
        QTRY_VERIFY(shownMessageBox(u"Error"_qs));
        QVERIFY(shownMessageBox(u"Error"_qs)->informativeText().contains(u"http://"_qs));
        shownMessageBox(u"Error"_qs)->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(handled.size(), 1);
        QCOMPARE(m_server.requests().size(), before);
        QCOMPARE(m_config->loadConfig().apiKey, u"sk_old"_qs);
    }
};

int main(int argc, char **argv)
{
    // The clipboard keepers the program starts become this process's
    // children once they detach, so that their end can be watched.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    XvfbDisplay display;
    if (!display.startForThisProcess())
        return 1;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TrayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TrayTest.moc"
