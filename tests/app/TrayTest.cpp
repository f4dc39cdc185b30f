// The tray program in one process on a private X server, against real peers
// on the session bus: a panel's status-notifier watcher, a second `sendova`
// process and the loopback HTTP server.
#include "../config/KeychainTestSupport.h"
#include "../support/XvfbDisplay.h"
#include "LoopbackHttpServer.h"
#include "TestStatusNotifierWatcher.h"
#include "app/AppDelegate.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "platform/ApplicationService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
    }

    // It closes when another window takes the focus, but not under its own alert.
    void popoverStaysUnderItsDialog()
    {
        startDelegate(60000);
        PopoverWindow *popover = m_delegate->popover();
        // Without a window manager, X ignores focus requests stamped before the
        // last unmap, and nothing here makes time pass for it: the switches of
        // focus are made in the toolkit instead.
        m_delegate->activate();
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

    // `sendova sample.txt` in another folder hands the file to the running program.
    void secondProcessHandsOverARelativePath()
    {
        startDelegate();
        QTemporaryDir callerDirectory;
        QFile sample(callerDirectory.filePath(QStringLiteral("sample.txt")));
        QVERIFY(sample.open(QIODevice::WriteOnly) && sample.write("hello\n") == 6 && sample.flush());

        QProcess second;
        second.setWorkingDirectory(callerDirectory.path());
        second.start(QStringLiteral(SENDOVA_BINARY), {QStringLiteral("sample.txt")});
        // The call reaches this process's event loop: no blocking wait here.
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_server.requests().isEmpty() && m_server.requests().last().body.contains("hello\n"), 20000);
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
            env.insert(QStringLiteral("XDG_DATA_HOME"), m_root.path());
            // As over SSH: no bus, and no display to start one for.
            if (!withBus) {
                env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
                env.remove(QStringLiteral("DISPLAY"));
            }
            process.setProcessEnvironment(env);
            process.setWorkingDirectory(files.path());
            process.start(QStringLiteral(SENDOVA_BINARY), args);
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
};

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
