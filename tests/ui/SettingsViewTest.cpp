#include "ui/SettingsView.h"

#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
#include "ui/ConnectionStatusView.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"

#include <QCheckBox>
#include <QPushButton>
#include <QToolButton>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

class SettingsViewTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SettingsView> m_sheet;

    SettingsView &sheet() { return *m_sheet; }
    AppViewModel &app() { return *m_fixture->app; }

    void leaveBy(QWidget *button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!app().showSettings());
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<SheetFixture>();
        m_fixture->storeAccount(m_fixture->server->baseUrl(), QStringLiteral("key-1"));
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

    // Save puts an edited key where the other programs look for it.
    void saveStoresTheKey()
    {
        QTest::keyClick(sheet().apiKeyField(), Qt::Key_End);
        QTest::keyClicks(sheet().apiKeyField(), u"x"_qs);
        leaveBy(sheet().saveButton());
        QCOMPARE(keyringSecret(), std::optional<QString>(u"key-1x"_qs));
    }

    // "Connected" speaks of the key it tested: editing the key takes it away.
    void statusGoesWithTheKey()
    {
        m_fixture->server->enqueue(ScriptedReply::json(200, "{}"));
        QTest::mouseClick(sheet().testButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet().statusView()->shownText(), u"Connected"_qs);
        sheet().apiKeyField()->selectAll();
        QTest::keyClick(sheet().apiKeyField(), Qt::Key_Backspace);
        QCOMPARE(sheet().statusView()->shownText(), QString());
        QVERIFY(!sheet().testButton()->isEnabled());
    }

    // A switched toggle: Save (Ctrl+Return) stores it, Cancel (Ctrl+Escape)
    // takes it back, the header's close keeps it for this run only.
    void leaving_data()
    {
        QTest::addColumn<int>("way"); // 0 Ctrl+Return, 1 Ctrl+Escape, 2 close button
        QTest::addColumn<bool>("inMemory");
        QTest::addColumn<bool>("stored");
        QTest::newRow("save") << 0 << false << false;
        QTest::newRow("cancel") << 1 << true << true;
        QTest::newRow("close") << 2 << false << true;
    }
    void leaving()
    {
        QFETCH(int, way);
        QFETCH(bool, inMemory);
        QFETCH(bool, stored);
        QTest::mouseClick(sheet().toggles().value(2), Qt::LeftButton);
        QVERIFY(!app().config().checkForDuplicates);
        sheet().activateWindow();
        if (way == 2)
            leaveBy(sheet().closeButton());
        else
            QTest::keyClick(&sheet(), way ? Qt::Key_Escape : Qt::Key_Return, Qt::ControlModifier);
        QTRY_VERIFY(!app().showSettings());
        QCOMPARE(app().config().checkForDuplicates, inMemory);
        QCOMPARE(m_fixture->stored().checkForDuplicates, stored);
    }

    // The picked language shows at once; Cancel goes back to the stored one.
    void languageSwitchesLive()
    {
        QTest::mouseClick(sheet().languagePicker()->segment(2), Qt::LeftButton);
        QCOMPARE(sheet().saveButton()->text(), u"Salvar"_qs);
        leaveBy(sheet().cancelButton());
        QCOMPARE(sheet().saveButton()->text(), u"Save"_qs);
    }
};

QTEST_MAIN(SettingsViewTest)
#include "SettingsViewTest.moc"
