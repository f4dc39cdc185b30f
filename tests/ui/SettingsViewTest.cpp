#include "ui/SettingsView.h"

#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
#include "platform/AutostartEntry.h"
#include "ui/ConnectionStatusView.h"
#include "ui/MenuBarView.h"
#include "ui/SetupView.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace sendova;
using namespace sendova::test;

namespace {

// The ways out of the sheet.
enum class Exit { closeButton, windowClose, cancelButton, escape, ctrlEscape, saveButton, ctrlReturn };

} // namespace

class SettingsViewTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_xdg;
    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SettingsView> m_sheet;

    SettingsView &sheet() { return *m_sheet; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

    void leave(Exit exit)
    {
        switch (exit) {
        case Exit::closeButton:
            QTest::mouseClick(sheet().closeButton(), Qt::LeftButton);
            break;
        case Exit::windowClose:
            sheet().close();
            break;
        case Exit::cancelButton:
            QTest::mouseClick(sheet().cancelButton(), Qt::LeftButton);
            break;
        case Exit::escape:
            QTest::keyClick(&sheet(), Qt::Key_Escape);
            break;
        case Exit::ctrlEscape:
            QTest::keyClick(&sheet(), Qt::Key_Escape, Qt::ControlModifier);
            break;
        case Exit::saveButton:
            QTest::mouseClick(sheet().saveButton(), Qt::LeftButton);
            break;
        case Exit::ctrlReturn:
            QTest::keyClick(&sheet(), Qt::Key_Return, Qt::ControlModifier);
            break;
        }
        QTRY_VERIFY(!app().showSettings());
    }

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", m_xdg.filePath(QStringLiteral("config")).toUtf8());
        m_fixture = std::make_unique<SheetFixture>();
        m_fixture->storeAccount(server().baseUrl(), QStringLiteral("key-1"));
        app().setShowSettings(true);
        m_sheet = std::make_unique<SettingsView>(&app());
        sheet().present();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet()));
    }

    void cleanup()
    {
        m_sheet.reset();
        m_fixture.reset();
        LocalizationService::shared().setLanguage(Language::english);
        QDir(m_xdg.path()).removeRecursively();
    }

    // An edit lives in memory at once; the header's close keeps it unsaved,
    // Cancel reads the stored settings back, Save writes them.
    void editsAndTheWaysOut_data()
    {
        QTest::addColumn<bool>("editKey");
        QTest::addColumn<Exit>("exit");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("saved");
        QTest::newRow("toggle, close button") << false << Exit::closeButton << true << false;
        QTest::newRow("key, window closed") << true << Exit::windowClose << true << false;
        QTest::newRow("toggle, Cancel") << false << Exit::cancelButton << false << false;
        QTest::newRow("key, Escape") << true << Exit::escape << false << false;
        QTest::newRow("toggle, Ctrl+Escape") << false << Exit::ctrlEscape << false << false;
        QTest::newRow("key, Save") << true << Exit::saveButton << true << true;
        QTest::newRow("toggle, Ctrl+Return") << false << Exit::ctrlReturn << true << true;
    }
    void editsAndTheWaysOut()
    {
        QFETCH(bool, editKey);
        QFETCH(Exit, exit);
        QFETCH(bool, kept);
        QFETCH(bool, saved);
        const AppConfig stored = app().config();
        AppConfig edited = stored;
        if (editKey) {
            QTest::keyClick(sheet().apiKeyField(), Qt::Key_End);
            QTest::keyClicks(sheet().apiKeyField(), u"x"_qs);
            edited.apiKey = u"key-1x"_qs;
        } else {
            sheet().toggles().at(2)->click();
            edited.checkForDuplicates = !stored.checkForDuplicates;
        }
        QCOMPARE(app().config(), edited);

        leave(exit);

        QCOMPARE(app().config(), kept ? edited : stored);
        QCOMPARE(m_fixture->stored(), saved ? edited : stored);
        QCOMPARE(keyringSecret(), std::optional<QString>(saved ? edited.apiKey : stored.apiKey));
    }

    void testConnection_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("accepted") << 200 << text("settings.status.connected");
        QTest::newRow("refused") << 401 << u"Connection failed"_qs;
        // A refused connection shows the transport's own description.
        QTest::newRow("no server") << 0 << QString();
    }
    void testConnection()
    {
        QFETCH(int, status);
        QFETCH(QString, shown);
        if (status == 0) {
            AppConfig config = app().config();
            config._serverUrl = u"http://127.0.0.1:%1"_qs.arg(LoopbackHttpServer::unusedPort());
            app().setConfig(config);
        }
        ScriptedReply reply = ScriptedReply::json(status, "{}");
        reply.delay = std::chrono::milliseconds(200);
        if (status)
            server().enqueue(reply);

        QTest::mouseClick(sheet().testButton(), Qt::LeftButton);
        QVERIFY(!sheet().testButton()->isEnabled());
        QVERIFY(sheet().statusView()->isSpinning());
        QTRY_VERIFY(sheet().testButton()->isEnabled());

        QVERIFY(!sheet().statusView()->isSpinning());
        if (shown.isEmpty())
            QVERIFY(!sheet().statusView()->shownText().isEmpty());
        else
            QCOMPARE(sheet().statusView()->shownText(), shown);
        QVERIFY(app().showSettings());
    }

    void emptyKeyDisablesTheTest()
    {
        QTest::keyClick(sheet().apiKeyField(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(sheet().apiKeyField(), Qt::Key_Delete);
        QVERIFY(!sheet().testButton()->isEnabled());
        QTest::keyClicks(sheet().apiKeyField(), u" "_qs);
        QVERIFY(sheet().testButton()->isEnabled());
    }

    // The picked language shows at once; Cancel goes back to the stored one.
    void languageSwitchesLive()
    {
        QTest::mouseClick(sheet().languagePicker()->segment(2), Qt::LeftButton);
        QCOMPARE(app().config().languageCode, u"pt"_qs);
        QCOMPARE(sheet().saveButton()->text(), text("settings.button.save"));
        QCOMPARE(sheet().saveButton()->text(), u"Salvar"_qs);
        leave(Exit::cancelButton);
        QCOMPARE(LocalizationService::shared().currentLanguage(), Language::english);
        QCOMPARE(sheet().saveButton()->text(), u"Save"_qs);
    }

    // No confirmation: everything stored goes, and the setup takes over.
    void logoutFromThePopover()
    {
        m_sheet.reset();
        app().setShowSettings(false);
        app().addRecent(RecentUpload::make(u"a.txt"_qs, 1, u"https://l/1"_qs, QDateTime::currentDateTimeUtc(),
                                           QDateTime::currentDateTimeUtc().addDays(1)));
        const QDir folder(m_fixture->folder());
        QVERIFY(folder.exists(u"recents.json"_qs));
        QVERIFY(!AutostartEntry::setEnabled(true));
        MenuBarView popover(&app());
        popover.show();
        app().setShowSettings(true);
        QTRY_VERIFY(popover.settingsView());

        QTest::mouseClick(popover.settingsView()->logoutButton(), Qt::LeftButton);

        QTRY_VERIFY(popover.setupView());
        QTRY_VERIFY(!popover.settingsView());
        QVERIFY(popover.hasSheet());
        QVERIFY(!folder.exists(u"config.json"_qs));
        QVERIFY(!folder.exists(u"recents.json"_qs));
        QCOMPARE(keyringSecret(), std::nullopt);
        QVERIFY(!QFile::exists(AutostartEntry::path()));
        QVERIFY(app().recentUploads().isEmpty());
    }

    // Save makes the login's autostart entry follow the toggle. An entry that
    // cannot be written fails the save like any other write, and a save that
    // fails takes back the entry it wrote.
    void autostartFollowsTheToggle_data()
    {
        QTest::addColumn<bool>("storedOn");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<bool>("entry");
        QTest::newRow("switched on") << false << QString() << true;
        QTest::newRow("switched off") << true << QString() << false;
        QTest::newRow("entry cannot be written") << false << u"entry"_qs << false;
        QTest::newRow("settings cannot be written") << false << u"settings"_qs << false;
    }
    void autostartFollowsTheToggle()
    {
        QFETCH(bool, storedOn);
        QFETCH(QString, blocked);
        QFETCH(bool, entry);
        if (storedOn) {
            AppConfig config = app().config();
            config.launchAtLogin = true;
            app().setConfig(config);
            QVERIFY(app().saveConfig());
            QVERIFY(QFile::exists(AutostartEntry::path()));
        }
        const AppConfig before = m_fixture->stored();
        // A file where the folder should be.
        const QString folder =
            blocked == u"entry"_qs ? QFileInfo(AutostartEntry::path()).path() : m_fixture->folder();
        if (!blocked.isEmpty()) {
            QDir(folder).removeRecursively();
            QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        sheet().toggles().at(3)->click();
        QCOMPARE(app().config().launchAtLogin, !storedOn);

        leave(Exit::saveButton);

        QCOMPARE(QFileInfo(AutostartEntry::path()).isFile(), entry);
        QCOMPARE(app().errorMessage().has_value(), !blocked.isEmpty());
        if (blocked.isEmpty())
            QCOMPARE(m_fixture->stored().launchAtLogin, !storedOn);
        else if (blocked == u"entry"_qs)
            QCOMPARE(m_fixture->stored(), before);
    }
};

QTEST_MAIN(SettingsViewTest)
#include "SettingsViewTest.moc"
