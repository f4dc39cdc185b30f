#include "ui/SettingsView.h"

#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace sendova;
using namespace sendova::test;

class SettingsViewTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SettingsView> m_sheet;

    SettingsView &sheet() { return *m_sheet; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

    // How the sheet is left: by one of its buttons, by the window's close,
    // else by keys.
    void leave(const QString &how)
    {
        const QMap<QString, QWidget *> buttons{{u"close"_qs, sheet().closeButton()},
                                               {u"cancel"_qs, sheet().cancelButton()},
                                               {u"save"_qs, sheet().saveButton()}};
        if (how == u"window"_qs)
            sheet().close();
        else if (QWidget *button = buttons.value(how))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keySequence(&sheet(), QKeySequence(how));
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
        QTest::addColumn<QString>("exit");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("saved");
        QTest::newRow("toggle, close button") << false << u"close"_qs << true << false;
        QTest::newRow("key, window closed") << true << u"window"_qs << true << false;
        QTest::newRow("toggle, Cancel") << false << u"cancel"_qs << false << false;
        QTest::newRow("key, Escape") << true << u"Esc"_qs << false << false;
        QTest::newRow("toggle, Ctrl+Escape") << false << u"Ctrl+Esc"_qs << false << false;
        QTest::newRow("key, Save") << true << u"save"_qs << true << true;
        QTest::newRow("toggle, Ctrl+Return") << false << u"Ctrl+Return"_qs << true << true;
    }
    void editsAndTheWaysOut()
    {
        QFETCH(bool, editKey);
        QFETCH(QString, exit);
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

    // The picked language shows at once; Cancel goes back to the stored one.
    void languageSwitchesLive()
    {
        QTest::mouseClick(sheet().languagePicker()->segment(2), Qt::LeftButton);
        QCOMPARE(app().config().languageCode, u"pt"_qs);
        QCOMPARE(sheet().saveButton()->text(), u"Salvar"_qs);
        leave(u"cancel"_qs);
        QCOMPARE(LocalizationService::shared().currentLanguage(), Language::english);
        QCOMPARE(sheet().saveButton()->text(), u"Save"_qs);
    }
};

QTEST_MAIN(SettingsViewTest)
#include "SettingsViewTest.moc"
