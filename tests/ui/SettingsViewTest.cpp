#include "ui/SettingsView.h"

#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
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
    }
    void testConnection()
    {
        QFETCH(int, status);
        QFETCH(QString, shown);
        ScriptedReply reply = ScriptedReply::json(status, "{}");
        reply.delay = std::chrono::milliseconds(200);
        server().enqueue(reply);

        QTest::mouseClick(sheet().testButton(), Qt::LeftButton);
        QVERIFY(!sheet().testButton()->isEnabled());
        QVERIFY(sheet().statusView()->isSpinning());
        QTRY_VERIFY(sheet().testButton()->isEnabled());

        QVERIFY(!sheet().statusView()->isSpinning());
        QCOMPARE(sheet().statusView()->shownText(), shown);
        QVERIFY(app().showSettings());
    }

    // The picked language shows at once; Cancel goes back to the stored one.
    void languageSwitchesLive()
    {
        QTest::mouseClick(sheet().languagePicker()->segment(2), Qt::LeftButton);
        QCOMPARE(app().config().languageCode, u"pt"_qs);
        QCOMPARE(sheet().saveButton()->text(), u"Salvar"_qs);
        leave(Exit::cancelButton);
        QCOMPARE(LocalizationService::shared().currentLanguage(), Language::english);
        QCOMPARE(sheet().saveButton()->text(), u"Save"_qs);
    }

    // No confirmation: the account goes (what that removes is the model's
    // test) and the setup takes over.
    void logoutFromThePopover()
    {
        m_sheet.reset();
        app().setShowSettings(false);
        MenuBarView popover(&app());
        popover.show();
        app().setShowSettings(true);
        QTRY_VERIFY(popover.settingsView());

        QTest::mouseClick(popover.settingsView()->logoutButton(), Qt::LeftButton);

        QTRY_VERIFY(popover.setupView());
        QTRY_VERIFY(!popover.settingsView());
        QVERIFY(popover.hasSheet());
        QVERIFY(!QDir(m_fixture->folder()).exists(u"config.json"_qs));
    }
};

QTEST_MAIN(SettingsViewTest)
#include "SettingsViewTest.moc"
