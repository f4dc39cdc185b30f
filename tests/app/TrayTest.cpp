// The tray program in one process on a private X server, against real peers
// on the session bus: a panel's status-notifier watcher, a second `sendova`
// process and the loopback HTTP server.
#include "../config/KeychainTestSupport.h"
#include "../support/XvfbDisplay.h"
#include "ChildSignal.h"
#include "LoopbackHttpServer.h"
#include "SwaySession.h"
#include "TestScreenshotPortal.h"
#include "TestStatusNotifierWatcher.h"
#include "app/AppDelegate.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "platform/ApplicationService.h"
#include "support/LocalizationService.h"
#include "ui/MenuBarView.h"
#include "ui/SettingsView.h"
#include "ui/SetupView.h"
#include "upload/StagedFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCursor>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
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

// The server's answers: its status naming a limit (or none), and an upload's success.
ScriptedReply statusReply(const QByteArray &limit = "null")
{
    return ScriptedReply::json(200, R"({"success":true,"data":{"maxUploadSize":)" + limit + "}}");
}

ScriptedReply uploaded(const QByteArray &link = "https://s.example/f/p")
{
    return ScriptedReply::json(200,
                               R"({"Success":true,"Data":{"Url":")" + link +
                                   R"(","ShortCode":"p","FileName":"p","FileSize":1,"IsDuplicate":false}})");
}

// Sway's answer: 0 when a window of ours (the focused one) is there, 2 when none is.
int sendovaWindow(const SwaySession &sway, bool focused)
{
    return sway.run(u"swaymsg"_qs, {u"-q"_qs, focused ? u"[title=Sendova con_id=__focused__] nop"_qs
                                                      : u"[title=Sendova] nop"_qs});
}

QByteArray imageBytes(const char *format, QSize size = {4, 3})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// What the private folder of pasted content holds: nothing once an upload is over.
QStringList stagedLeft()
{
    return QDir(StagedFile::cacheFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
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

    // With SENDOVA_SCREENSHOTS=DIR, the tray menu as it is now, for the README.
    void shoot(const QString &name)
    {
        const QString folder = qEnvironmentVariable("SENDOVA_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        QMenu *menu = m_delegate->statusItem()->contextMenu();
        menu->popup(QPoint(20, 20));
        QTRY_VERIFY(menu->isVisible());
        QTest::qWait(100);
        QVERIFY(menu->grab().save(folder + u'/' + name + u".png"_qs));
        menu->hide();
    }

    // The built tray program in the sway session, with a panel, so that it
    // opens as a popover.
    void startTrayOn(const SwaySession &sway, QProcess &tray)
    {
        m_watcher.stop();
        QVERIFY(m_watcher.start());
        const qsizetype items = m_watcher.registeredItems().size();
        startSendova(tray, {}, sway.environment());
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registeredItems().size() > items, 20000);
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

    // At rest, with its key read from the keyring, the program maps neither
    // libcurl and OpenSSL nor the keyring's libsecret and GIO; libcurl comes
    // with the first upload, which carries the key it read.
    void idleProgramLeavesNetworkAndKeyringOut()
    {
        // No copy, so that no clipboard keeper outlives the test.
        AppConfig config = m_config->loadConfig();
        config.autoCopyToClipboard = false;
        m_config->saveConfig(config);
        const qsizetype items = m_watcher.registeredItems().size();
        QProcess tray;
        startSendova(tray);
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registeredItems().size() > items, 10000);
        const auto mapped = [&tray] {
            QFile maps(u"/proc/%1/maps"_qs.arg(tray.processId()));
            return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
        };
        const QByteArray idle = mapped();
        QVERIFY(idle.contains("/libQt6Widgets"));
        for (const char *library : {"/libcurl", "/libcrypto.so", "/libssl.so", "/libsecret", "/libgio"})
            QVERIFY2(!idle.contains(library), library);

        const qsizetype before = m_server.requests().size();
        m_server.enqueue(uploaded());
        QProcess handOver;
        handOver.setWorkingDirectory(m_root.path());
        startSendova(handOver, {u"Sendova/config.json"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() > before, 20000);
        QCOMPARE(m_server.requests().constLast().header("X-API-Key"), std::optional<QByteArray>("sk_old"));
        QVERIFY(mapped().contains("/libcurl"));
        QVERIFY(signalChild(tray.processId(), SIGTERM));
        QVERIFY(tray.waitForFinished(5000));
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

        QProcess tray;
        startTrayOn(sway, tray);

        // The upload's reply waits for a request from here, so that the
        // popover is closed by then.
        const QByteArray link = "https://s.example/f/wayland";
        ScriptedReply reply = uploaded(link);
        const qsizetype before = m_server.requests().size();
        reply.answerTogether = int(before) + 2;
        m_server.enqueue(reply);
        QProcess handOver;
        handOver.setWorkingDirectory(m_root.path());
        startSendova(handOver, {u"Sendova/config.json"_qs}, desktop);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, true), 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() == before + 1 &&
                                     m_server.requests().last().body.contains("serverUrl"),
                                 20000);
        QCOMPARE(sway.run(u"wtype"_qs, {u"-k"_qs, u"Escape"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, false), 2, 20000);
        QCOMPARE(sway.run(u"curl"_qs, {u"-s"_qs, u"-o"_qs, u"/dev/null"_qs, m_server.baseUrl()}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sway.clipboard(), std::optional(link), 20000);

        QTRY_COMPARE_WITH_TIMEOUT(adoptedKeepers().size(), 1, 20000);
        QCOMPARE(sway.run(u"wl-copy"_qs, {xwayland ? u"--clear"_qs : u"newer"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(adoptedKeepers().size(), 0, 20000);

        // Reopened, it still shows the link. Copy from the keyboard, as there
        // is no pointer: past the settings button and the link itself.
        QProcess reopen;
        startSendova(reopen, {}, desktop);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, true), 0, 20000);
        QCOMPARE(sway.run(u"wtype"_qs, {u"-k"_qs, u"Tab"_qs, u"-k"_qs, u"Tab"_qs, u"-k"_qs, u"Tab"_qs,
                                        u"-k"_qs, u"space"_qs}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(sway.clipboard(), std::optional(link), 20000);

        QCOMPARE(sway.run(u"swaymsg"_qs, {u"workspace"_qs, u"elsewhere"_qs}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, false), 2, 20000);
        tray.terminate();
        tray.waitForFinished();
    }

    // Wayland gives the clipboard to the focused window only: Ctrl+V in the
    // popover and the tray's Upload Clipboard (which brings the popover up
    // first) each upload what a Wayland program copied.
    void waylandPaste()
    {
        if (!SwaySession::available())
            QSKIP("sway, wl-clipboard or wtype is missing (scripts/install-deps installs them)");
        SwaySession sway(SwaySession::XWayland::on);
        QVERIFY2(sway.start(), sway.errorText().constData());
        const QProcessEnvironment desktop = sway.environment();
        QProcess tray;
        startTrayOn(sway, tray);

        for (const QString &way : {u"Ctrl+V"_qs, u"Upload Clipboard"_qs}) {
            const QByteArray copied = "copied on Wayland for " + way.toUtf8();
            QCOMPARE(sway.run(u"wl-copy"_qs, {QString::fromUtf8(copied)}), 0);
            m_server.enqueue(statusReply());
            m_server.enqueue(uploaded());
            const qsizetype before = m_server.requests().size();
            QProcess command;
            if (way == u"Ctrl+V") {
                startSendova(command, {}, desktop);
                QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, true), 0, 20000);
                QCOMPARE(
                    sway.run(u"wtype"_qs, {u"-M"_qs, u"ctrl"_qs, u"-k"_qs, u"v"_qs, u"-m"_qs, u"ctrl"_qs}),
                    0);
            } else {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    QLatin1String(ApplicationService::applicationId),
                    QLatin1String(ApplicationService::objectPath),
                    QLatin1String(ApplicationService::interfaceName), u"ActivateAction"_qs);
                call << QLatin1String(AppDelegate::uploadClipboardAction) << QVariantList() << QVariantMap();
                QCOMPARE(QDBusConnection::sessionBus().call(call).type(), QDBusMessage::ReplyMessage);
            }
            QTRY_COMPARE_WITH_TIMEOUT(m_server.requests().size(), before + 2, 20000);
            const QByteArray body = m_server.requests().constLast().body;
            QVERIFY2(body.contains("filename=\"Clipboard 20") && body.contains(".txt\"") &&
                         body.contains(copied),
                     qPrintable(way));
            // Closed, as when the user goes on elsewhere and copies again.
            QCOMPARE(sway.run(u"wtype"_qs, {u"-k"_qs, u"Escape"_qs}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(sendovaWindow(sway, false), 2, 20000);
        }
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
        // Only a guard against waiting for ever: a loaded machine may take a while.
        QTimer::singleShot(10000, this, [] { QCoreApplication::exit(99); });
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

    // Ctrl+V in the popover uploads what another program copied: the first
    // local file of a file manager's copy, an image (as PNG), or text (as
    // .txt), under a name saying what it was; the private file of what was
    // no file is gone however the upload ended.
    void pasteUploads_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("copied");
        // The limit the server names when asked first (JSON); not asked for a file.
        QTest::addColumn<QByteArray>("limit");
        // The upload's reply; 0 when nothing may be sent.
        QTest::addColumn<int>("status");
        // The file name sent, as a pattern.
        QTest::addColumn<QString>("name");
        // What the body carries, or what the failed state says when nothing is sent.
        QTest::addColumn<QByteArray>("expected");
        const QString clipboardName = u"Clipboard \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\."_qs;
        const QByteArray config = QUrl::fromLocalFile(m_root.filePath(u"Sendova/config.json"_qs)).toEncoded();
        QTest::newRow("a file manager's files")
            << u"text/uri-list"_qs << "https://example.com/x\r\n" + config + "\r\nfile:///etc/hostname\r\n"
            << QByteArray() << 200 << u"config\\.json"_qs << QByteArray("serverUrl");
        QTest::newRow("PNG image") << u"image/png"_qs << imageBytes("png") << "1000000"_qba << 200
                                   << clipboardName + u"png"_qs << imageBytes("png");
        // A picture's size is its PNG's, known once converted; a picture
        // that does not decode is said to be unreadable.
        const QByteArray bigBmp = imageBytes("bmp", {300, 200});
        const QByteArray bigPng = imageBytes("png", {300, 200});
        QTest::newRow("BMP image as PNG within the limit, refused by the server")
            << u"image/bmp"_qs << bigBmp << QByteArray::number(bigBmp.size() - 1) << 500
            << clipboardName + u"png"_qs << bigPng;
        QTest::newRow("BMP image over the limit once converted")
            << u"image/bmp"_qs << bigBmp << QByteArray::number(bigPng.size() / 2) << 0 << QString()
            << "Clipboard 20"_qba;
        QTest::newRow("undecodable image") << u"image/bmp"_qs << "BM, but no picture"_qba << "null"_qba << 0
                                           << QString()
                                           << LocalizationService::shared()
                                                  .localized("error.clipboard.unreadable_image")
                                                  .toUtf8();
        QTest::newRow("text over the server's limit") << u"UTF8_STRING"_qs << "Grüße\n"_qba
                                                      << "6"_qba << 0 << QString() << "Clipboard 20"_qba;
        QTest::newRow("blank text")
            << u"UTF8_STRING"_qs << " \n"_qba << QByteArray() << 0 << QString()
            << LocalizationService::shared().localized("error.clipboard.empty").toUtf8();
    }

    void pasteUploads()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, copied);
        QFETCH(QByteArray, limit);
        QFETCH(int, status);
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        const QString copiedPath = m_root.filePath(u"copied"_qs);
        QFile copiedFile(copiedPath);
        QVERIFY(copiedFile.open(QIODevice::WriteOnly) && copiedFile.write(copied) == copied.size());
        copiedFile.close();
        // Another program owns the clipboard, as when a user copies elsewhere.
        QProcess xclip;
        xclip.start(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, type, u"-i"_qs, copiedPath});
        QVERIFY(xclip.waitForFinished());
        // Once this process has heard of the new owner.
        const QString format = type == u"UTF8_STRING" ? u"text/plain"_qs : type;
        QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->hasFormat(format));

        if (!limit.isEmpty())
            m_server.enqueue(statusReply(limit));
        if (status == 200)
            m_server.enqueue(uploaded());
        else if (status)
            m_server.enqueue(
                ScriptedReply::json(status, R"({"Success":false,"Error":{"Code":"FULL","Message":"Full"}})"));
        const qsizetype before = m_server.requests().size();
        startDelegate(60000);
        m_delegate->activate();
        PopoverWindow *popover = m_delegate->popover();
        QTRY_VERIFY(popover->isVisible());
        QApplication::setActiveWindow(popover);
        QTest::keyClick(popover, Qt::Key_V, Qt::ControlModifier);

        AppViewModel *model = m_delegate->viewModel();
        QTRY_VERIFY(model->uploadProgress().state.get<UploadState::Completed>() ||
                    model->uploadProgress().state.get<UploadState::Failed>());
        QCOMPARE(stagedLeft(), QStringList());
        QCOMPARE(m_server.requests().size(), before + !limit.isEmpty() + (status != 0));
        QCOMPARE(bool(model->uploadProgress().state.get<UploadState::Completed>()), status == 200);
        if (status) {
            const QByteArray body = m_server.requests().constLast().body;
            const QRegularExpression disposition(u"filename=\"("_qs + name + u")\""_qs);
            QVERIFY2(disposition.match(QString::fromUtf8(body)).hasMatch(), body.left(300).constData());
            QVERIFY2(body.contains(expected), body.toPercentEncoding().left(400).constData());
        } else {
            QVERIFY(model->uploadProgress().state.get<UploadState::Failed>()->message.contains(
                QString::fromUtf8(expected)));
        }
        QGuiApplication::clipboard()->clear();
    }

    // The tray's Upload Screenshot… is there only with a portal; the
    // portal's picture is uploaded under our name for it, and a cancel in
    // the desktop's dialog sends nothing and shows no error. Upload
    // Clipboard is offered only while there is something to paste.
    void screenshotAndClipboardFromTheMenu_data()
    {
        QTest::addColumn<int>("portalAnswer"); // -1: no portal
        QTest::newRow("screenshot taken") << 0;
        QTest::newRow("screenshot cancelled") << 1;
        QTest::newRow("no portal") << -1;
    }

    void screenshotAndClipboardFromTheMenu()
    {
        QFETCH(int, portalAnswer);
        const QString picturePath = m_root.filePath(u"Screenshot_20261207.png"_qs);
        const QByteArray picture = imageBytes("png");
        QFile file(picturePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(picture) == picture.size());
        file.close();
        TestScreenshotPortal portal;
        portal.responseCode = uint(portalAnswer);
        portal.picture = QUrl::fromLocalFile(picturePath);
        if (portalAnswer >= 0)
            QVERIFY(portal.start());
        QGuiApplication::clipboard()->clear();
        m_watcher.stop();
        QVERIFY(m_watcher.start());
        startDelegate(60000);
        QTRY_VERIFY(m_delegate->statusItem());
        const QList<QAction *> actions = m_delegate->statusItem()->contextMenu()->actions();
        QAction *clipboard = actions.value(2);
        QAction *screenshot = actions.value(3);
        QCOMPARE(clipboard->text(), u"Upload Clipboard"_qs);
        QTRY_VERIFY(!clipboard->isEnabled());
        if (portalAnswer < 0)
            shoot(u"tray-menu-no-portal-empty-clipboard"_qs);
        QGuiApplication::clipboard()->setText(u"pasted"_qs);
        QTRY_VERIFY(clipboard->isEnabled());
        if (portalAnswer < 0) {
            QTest::qWait(200);
            QVERIFY(!screenshot->isVisible());
            return;
        }
        QTRY_VERIFY(screenshot->isVisible());
        QCOMPARE(screenshot->text(), u"Upload Screenshot…"_qs);
        if (portalAnswer == 0)
            shoot(u"tray-menu"_qs);

        if (portalAnswer == 0) {
            m_server.enqueue(statusReply("1000000"));
            m_server.enqueue(uploaded());
        }
        const qsizetype before = m_server.requests().size();
        screenshot->trigger();
        QTRY_COMPARE(portal.calls.size(), 1);
        AppViewModel *model = m_delegate->viewModel();
        if (portalAnswer == 0) {
            QTRY_VERIFY(model->uploadProgress().state.get<UploadState::Completed>());
            const QByteArray body = m_server.requests().constLast().body;
            QVERIFY(body.contains("filename=\"Screenshot 20") && body.contains(picture));
        } else {
            QTest::qWait(300);
            QCOMPARE(m_server.requests().size(), before);
            QVERIFY(model->uploadProgress().state.get<UploadState::Idle>());
            QVERIFY(!shownMessageBox());
        }
        QVERIFY(QFileInfo::exists(picturePath));
        QCOMPARE(stagedLeft(), QStringList());
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
                // Equal only when the popover is within the screen; a failure shows both.
                QCOMPARE(screen.united(popover->frameGeometry()), screen);
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
        // Only a confirmed link is sent; a reply left queued would answer the next test.
        if (confirmed)
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

    // The program ends with a question up, over the popover or on its own,
    // or while the answer's exchange is under way: the question goes with it,
    // answered no, and a reply arriving later stores nothing.
    void quitWithSetupUnderWay_data()
    {
        QTest::addColumn<bool>("overPopover");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("answeredFirst");
        QTest::newRow("question over the popover") << true << false << false;
        QTest::newRow("question on its own") << false << false << false;
        QTest::newRow("answered, not yet delivered") << true << false << true;
        QTest::newRow("exchange under way") << true << true << false;
    }

    void quitWithSetupUnderWay()
    {
        QFETCH(bool, overPopover);
        QFETCH(bool, connected);
        QFETCH(bool, answeredFirst);
        startDelegate();
        if (overPopover) {
            m_delegate->activate();
            QTRY_VERIFY(m_delegate->popover()->isVisible());
        }
        ScriptedReply late = ScriptedReply::json(
            200, R"({"success":true,"apiKey":"sk_1","tenantName":"Acme","userName":"ana"})");
        late.delay = std::chrono::milliseconds(500);
        m_server.enqueue(late);
        QSignalSpy handled(m_delegate.get(), &AppDelegate::setupLinkHandled);
        m_delegate->open({u"sendova://setup?token=T1&server="_qs + m_server.baseUrl()});
        QTRY_VERIFY(shownMessageBox());
        const QPointer<QMessageBox> box = shownMessageBox();
        QCOMPARE(box->parentWidget() == m_delegate->popover(), overPopover);
        const qsizetype before = m_server.requests().size();
        if (connected) {
            for (QAbstractButton *button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::AcceptRole)
                    button->click();
            }
            QTRY_COMPARE(m_server.requests().size(), before + 1);
        }
        if (answeredFirst)
            box->close();
        m_delegate.reset();
        QVERIFY(!box);
        QCOMPARE(handled.size(), connected ? 0 : 1);
        QTest::qWait(1000);
        QCOMPARE(m_server.requests().size(), before + (connected ? 1 : 0));
        QCOMPARE(m_config->loadConfig().apiKey, u"sk_old"_qs);
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
