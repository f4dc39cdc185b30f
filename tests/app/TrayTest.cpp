// The tray program in one process on a private X server, against real peers
// on the session bus: a panel's status-notifier watcher, a second `sendova`
// process and the loopback HTTP server.
#include "../support/XvfbDisplay.h"
#include "LoopbackHttpServer.h"
#include "TestStatusNotifierWatcher.h"
#include "app/AppDelegate.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "platform/ApplicationService.h"
#include "support/LocalizationService.h"
#include "ui/MenuBarView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace sendova;
using namespace sendova::test;

namespace {

const QByteArray uploadedReply =
    R"({"Success":true,"Data":{"Url":"http://127.0.0.1/f/abc","ShortCode":"abc","FileName":"sample.txt",)"
    R"("FileSize":6,"ExpiresAt":"2027-01-01T00:00:00Z","IsDuplicate":false}})";

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

void click(QMessageBox *box, const QString &buttonText)
{
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        if (button->text() == buttonText) {
            button->click();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + buttonText));
}

} // namespace

class TrayTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    // First: Qt settles whether there is a tray when first asked, so this
    // fails when the program asks before the watcher is there.
    void trayHostArrivingLaterGetsTheItem();
    void activatingTheItemTogglesThePopover();
    void popoverClosesOnEscapeAndLostFocusButNotUnderADialog();
    void secondProcessHandsOver_data();
    void secondProcessHandsOver();
    void setupLinks_data();
    void setupLinks();

private:
    void startDelegate(int trayWait = AppDelegate::trayWaitMs);
    QString oldServer() const { return m_server.baseUrl() + QStringLiteral("/old"); }

    QTemporaryDir m_root;
    LoopbackHttpServer m_server;
    TestStatusNotifierWatcher m_watcher;
    std::unique_ptr<ConfigService> m_config;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<ApplicationService> m_service;
};

void TrayTest::init()
{
    qunsetenv(AppConfig::serverOverrideVariable);
    m_config = std::make_unique<ConfigService>(m_root.filePath(QStringLiteral("Sendova")));
    AppConfig config = AppConfig::defaults();
    config._serverUrl = oldServer();
    config.apiKey = QStringLiteral("sk_old");
    config.checkForDuplicates = false;
    config.showNotifications = false;
    config.autoCopyToClipboard = false;
    m_config->saveConfig(config);
}

void TrayTest::cleanup()
{
    while (QWidget *box = shownMessageBox())
        box->close();
    m_service.reset();
    m_delegate.reset();
    KeychainService::shared().deleteAPIKey();
}

void TrayTest::startDelegate(int trayWait)
{
    m_delegate = std::make_unique<AppDelegate>(*m_config, QDBusConnection::sessionBus());
    m_delegate->setTrayWait(trayWait);
    m_service = std::make_unique<ApplicationService>(QDBusConnection::sessionBus());
    QVERIFY(m_service->registerInstance());
    m_delegate->serve(m_service.get());
    m_delegate->start();
    QTRY_VERIFY(m_delegate->isStarted());
}

void TrayTest::trayHostArrivingLaterGetsTheItem()
{
    startDelegate(200);
    PopoverWindow *popover = m_delegate->popover();
    QTRY_VERIFY(popover->isVisible());
    QCOMPARE(popover->mode(), PopoverWindow::Mode::window);
    QCOMPARE(popover->windowTitle(), QStringLiteral("Sendova"));
    QVERIFY(!popover->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!m_delegate->statusItem());

    QVERIFY(m_watcher.start());
    QTRY_COMPARE(m_watcher.registeredItems().size(), 1);
    QVERIFY(m_delegate->statusItem());
    QCOMPARE(popover->mode(), PopoverWindow::Mode::popover);
    QVERIFY(popover->windowFlags().testFlag(Qt::FramelessWindowHint));
}

void TrayTest::activatingTheItemTogglesThePopover()
{
    // The watcher is there from the start this time.
    const qsizetype before = m_watcher.registeredItems().size();
    startDelegate();
    QTRY_COMPARE(m_watcher.registeredItems().size(), before + 1);
    PopoverWindow *popover = m_delegate->popover();
    QVERIFY(!popover->isVisible());

    m_watcher.activate(m_watcher.registeredItems().last());
    QTRY_VERIFY(popover->isVisible());
    QCOMPARE(popover->mode(), PopoverWindow::Mode::popover);
    QCOMPARE(popover->width(), MenuBarView::viewWidth);
    m_watcher.activate(m_watcher.registeredItems().last());
    QTRY_VERIFY(!popover->isVisible());
}

void TrayTest::popoverClosesOnEscapeAndLostFocusButNotUnderADialog()
{
    // A popover whether or not the watcher runs.
    startDelegate(60000);
    PopoverWindow *popover = m_delegate->popover();
    m_delegate->activate();
    QTRY_VERIFY(popover->isActiveWindow());
    QTest::keyClick(popover, Qt::Key_Escape);
    QVERIFY(!popover->isVisible());

    // Without a window manager, X ignores focus requests stamped before the
    // last unmap, and nothing here makes time pass for it: the switches of
    // focus are made in the toolkit instead.
    m_delegate->activate();
    QTRY_VERIFY(popover->isVisible());
    QApplication::setActiveWindow(popover);
    QMessageBox alert(QMessageBox::Information, QStringLiteral("Sendova"), QStringLiteral("Alert"),
                      QMessageBox::Ok, popover);
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

    // Ten recent uploads do not fit the 480 pixels of this screen: the
    // window stays on it and scrolls to every row and the footer.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<RecentUpload> recents;
    for (int i = 0; i < 10; ++i)
        recents << RecentUpload::make(QStringLiteral("file-%1.txt").arg(i), 100,
                                      QStringLiteral("http://x/f/%1").arg(i), now, now.addDays(1));
    m_delegate->viewModel()->setRecentUploads(recents);
    QTest::qWait(100);
    m_delegate->activate();
    QTRY_VERIFY(popover->isVisible());
    const QRect screen = popover->screen()->availableGeometry();
    QTRY_COMPARE(popover->height(), screen.height() - 2 * PopoverWindow::gap);
    QVERIFY(screen.contains(popover->frameGeometry()));
    auto *scroll = popover->findChild<QScrollArea *>();
    QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
    scroll->ensureWidgetVisible(popover->view()->footer());
    QVERIFY(!popover->view()->footer()->visibleRegion().isEmpty());
}

void TrayTest::secondProcessHandsOver_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("uploads");
    QTest::newRow("relative path") << QStringList{QStringLiteral("sample.txt")} << true;
    QTest::newRow("no arguments") << QStringList() << false;
}

void TrayTest::secondProcessHandsOver()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, uploads);
    startDelegate();
    QTemporaryDir callerDirectory;
    QFile sample(callerDirectory.filePath(QStringLiteral("sample.txt")));
    QVERIFY(sample.open(QIODevice::WriteOnly));
    sample.write("hello\n");
    sample.close();
    const qsizetype requestsBefore = m_server.requests().size();
    if (uploads)
        m_server.enqueue(ScriptedReply::json(200, uploadedReply));

    QProcess second;
    second.setWorkingDirectory(callerDirectory.path());
    second.start(QStringLiteral(SENDOVA_BINARY), arguments);
    // The call reaches this process's event loop: no blocking wait here.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 20000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY(m_delegate->popover()->isVisible());
    if (uploads) {
        QTRY_COMPARE(m_server.requests().size(), requestsBefore + 1);
        const RecordedRequest request = m_server.requests().last();
        QCOMPARE(request.target, QByteArray("/old/api/upload"));
        QVERIFY(request.body.contains("hello\n"));
        QTRY_VERIFY(m_delegate->viewModel()->uploadProgress().state.get<UploadState::Completed>());
    } else {
        QTest::qWait(200);
        QCOMPARE(m_server.requests().size(), requestsBefore);
    }
}

void TrayTest::setupLinks_data()
{
    QTest::addColumn<QStringList>("uris");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("sentToken");
    QTest::addColumn<QString>("alertTitle");
    QTest::addColumn<QString>("alertMessage");
    QTest::addColumn<QString>("storedKey");

    const QString server = m_server.baseUrl();
    const QString connect = QStringLiteral("setup_link.confirm.connect");
    const QString cancel = QStringLiteral("setup_link.confirm.cancel");
    const auto link = [&](const char *text) { return QString::fromLatin1(text).arg(server); };
    QTest::newRow("host form, confirmed")
        << QStringList{link("sendova://setup?token=T1&server=%1")} << connect
        << QByteArray(R"({"success":true,"apiKey":"sk_1","tenantName":"Acme","userName":"ana"})")
        << QStringLiteral("T1") << QStringLiteral("Sendova Configured")
        << QStringLiteral("Connected to: Acme\nUser: ana") << QStringLiteral("sk_1");
    QTest::newRow("path form, first token, only the first link")
        << QStringList{link("sendova:/setup/?token=T2&token=T3&server=%1"),
                       link("sendova://setup?token=X&server=%1")}
        << connect << QByteArray(R"({"success":true,"apiKey":"sk_2"})") << QStringLiteral("T2")
        << QStringLiteral("Sendova Configured") << QStringLiteral("Connected to: Sendova\nUser: User")
        << QStringLiteral("sk_2");
    QTest::newRow("declined") << QStringList{link("sendova:setup?token=T4&server=%1")} << cancel
                              << QByteArray() << QString() << QString() << QString()
                              << QStringLiteral("sk_old");
    QTest::newRow("refused by the server")
        << QStringList{link("sendova://setup?token=T5&server=%1")} << connect
        << QByteArray(R"({"success":false,"error":{"code":"TOKEN_EXPIRED","message":"Token expired"}})")
        << QStringLiteral("T5") << QStringLiteral("Error de Setup") << QStringLiteral("Token expired")
        << QStringLiteral("sk_old");
    for (const char *ignored : {"sendova://setup?token&server=%1", "sendova://settings?token=T&server=%1",
                                "sendova://setup?server=%1", "Sendova://setup?token=T&server=%1"})
        QTest::newRow(ignored) << QStringList{link(ignored)} << QString() << QByteArray() << QString()
                               << QString() << QString() << QStringLiteral("sk_old");
    QTest::newRow("first is no setup link")
        << QStringList{QStringLiteral("https://example.com/"), link("sendova://setup?token=T&server=%1")}
        << QString() << QByteArray() << QString() << QString() << QString() << QStringLiteral("sk_old");
}

void TrayTest::setupLinks()
{
    QFETCH(QStringList, uris);
    QFETCH(QString, answer);
    QFETCH(QByteArray, reply);
    QFETCH(QString, sentToken);
    QFETCH(QString, alertTitle);
    QFETCH(QString, alertMessage);
    QFETCH(QString, storedKey);
    startDelegate();
    const qsizetype requestsBefore = m_server.requests().size();
    if (!reply.isEmpty())
        m_server.enqueue(ScriptedReply::json(200, reply));
    QSignalSpy handled(m_delegate.get(), &AppDelegate::setupLinkHandled);
    const bool isLink = uris.first().startsWith(QLatin1String("sendova:"));

    m_delegate->open(uris);
    if (answer.isEmpty()) {
        if (isLink)
            QTRY_COMPARE(handled.size(), 1);
        QTest::qWait(100);
        QVERIFY(!shownMessageBox());
    } else {
        QTRY_VERIFY(shownMessageBox());
        QMessageBox *confirmation = shownMessageBox();
        QVERIFY(confirmation->informativeText().contains(m_server.baseUrl()));
        QCOMPARE(m_server.requests().size(), requestsBefore);
        click(confirmation, LocalizationService::shared().localized(answer.toLatin1().constData()));
        if (!alertTitle.isEmpty()) {
            QTRY_VERIFY2(shownMessageBox(alertTitle),
                         qPrintable(shownMessageBox() ? shownMessageBox()->text() + QLatin1Char('|') +
                                                            shownMessageBox()->informativeText()
                                                      : QStringLiteral("no alert")));
            QMessageBox *alert = shownMessageBox(alertTitle);
            QCOMPARE(alert->informativeText(), alertMessage);
            QCOMPARE(handled.size(), 0);
            alert->button(QMessageBox::Ok)->click();
        }
        QTRY_COMPARE(handled.size(), 1);
    }

    if (sentToken.isEmpty()) {
        QCOMPARE(m_server.requests().size(), requestsBefore);
    } else {
        QCOMPARE(m_server.requests().size(), requestsBefore + 1);
        QVERIFY(m_server.requests().last().body.contains("\"" + sentToken.toLatin1() + "\""));
    }
    const AppConfig stored = m_config->loadConfig();
    QCOMPARE(stored.apiKey, storedKey);
    QCOMPARE(stored._serverUrl, storedKey == QLatin1String("sk_old") ? oldServer() : m_server.baseUrl());
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.startForThisProcess())
        return 1;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TrayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TrayTest.moc"
