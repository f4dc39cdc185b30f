#include "ui/SetupView.h"

#include "SheetTestSupport.h"
#include "ui/MenuBarView.h"
#include "widgets/LoadingOverlay.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"
#include "widgets/WrappedMessage.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

namespace {

void chooseMode(SetupView &sheet, SetupMode mode)
{
    QAbstractButton *segment = sheet.modePicker()->segment(mode == SetupMode::login ? 0 : 1);
    QTest::mouseClick(segment, Qt::LeftButton);
}

// Typed as a user types: the model learns it through the fields.
void fill(SetupView &sheet, const QString &username, const QString &password, const QString &apiKey)
{
    QTest::keyClicks(sheet.usernameField(), username);
    QTest::keyClicks(sheet.passwordField(), password);
    QTest::keyClicks(sheet.apiKeyField(), apiKey);
}

} // namespace

class SetupViewTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SetupView> m_sheet;

    SetupView &sheet() { return *m_sheet; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

    void present(const QString &storedServer)
    {
        AppConfig config = app().config();
        config._serverUrl = storedServer;
        app().setConfig(config);
        app().setShowSetup(true);
        m_sheet = std::make_unique<SetupView>(&app());
        sheet().present();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet()));
    }

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<SheetFixture>(); }

    void cleanup()
    {
        m_sheet.reset();
        m_fixture.reset();
    }

    // The primary button follows the mode and the fields as typed (spaces
    // count); the server field shows for a server of one's own.
    void buttonFollowsTheFields_data()
    {
        QTest::addColumn<SetupMode>("mode");
        QTest::addColumn<bool>("ownServer");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<bool>("enabled");
        const QString none;
        QTest::newRow("login, no password")
            << SetupMode::login << false << u"ana"_qs << none << u"k"_qs << false;
        QTest::newRow("login, spaces, own server")
            << SetupMode::login << true << u" "_qs << u" "_qs << none << true;
        QTest::newRow("key, empty") << SetupMode::apiKey << false << u"ana"_qs << u"pw"_qs << none << false;
        QTest::newRow("key, spaces") << SetupMode::apiKey << false << none << none << u" "_qs << true;
    }
    void buttonFollowsTheFields()
    {
        QFETCH(SetupMode, mode);
        QFETCH(bool, ownServer);
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QString, apiKey);
        QFETCH(bool, enabled);
        present(ownServer ? server().baseUrl() : QString::fromLatin1(AppConfig::defaultServerUrl));
        chooseMode(sheet(), mode);
        fill(sheet(), username, password, apiKey);

        QCOMPARE(sheet().primaryButton()->isEnabled(), enabled);
        QCOMPARE(sheet().serverField()->isVisibleTo(&sheet()), ownServer);
        QCOMPARE(sheet().usernameField()->isVisibleTo(&sheet()), mode == SetupMode::login);
        QCOMPARE(sheet().apiKeyField()->isVisibleTo(&sheet()), mode == SetupMode::apiKey);
    }

    // What the sheet shows for a success and for a refusal; the replies
    // themselves are the model's table.
    void submitting_data()
    {
        QTest::addColumn<SetupMode>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("login accepted")
            << SetupMode::login << 200 << QByteArray(R"({"success":true,"data":{"apiKey":"sk_new"}})")
            << QString();
        QTest::newRow("key refused") << SetupMode::apiKey << 401 << QByteArray("{}")
                                     << text("setup.error.connection_failed");
    }
    void submitting()
    {
        QFETCH(SetupMode, mode);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        MenuBarView popover(&app());
        popover.show();
        AppConfig config = app().config();
        config._serverUrl = server().baseUrl();
        app().setConfig(config);
        app().setShowSetup(true);
        QTRY_VERIFY(popover.setupView());
        QPointer<SetupView> sheet = popover.setupView();
        chooseMode(*sheet, mode);
        fill(*sheet, u"ana"_qs, u"pw"_qs, u"sk_new"_qs);
        ScriptedReply reply = ScriptedReply::json(status, body);
        reply.delay = std::chrono::milliseconds(300);
        server().enqueue(reply);

        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);

        // While it runs, the overlay takes every key: Escape does not cancel.
        QVERIFY(sheet->overlay()->isVisible());
        QVERIFY(!sheet->primaryButton()->isEnabled());
        QSignalSpy quit(&popover, &MenuBarView::quitRequested);
        QTest::keyClick(sheet->overlay(), Qt::Key_Escape);
        QTest::keyClick(sheet->overlay(), Qt::Key_Return);
        QVERIFY(quit.isEmpty());
        if (error.isEmpty()) {
            QTRY_VERIFY(!sheet);
            QVERIFY(!app().showSetup());
        } else {
            QTRY_VERIFY(!sheet->overlay()->isVisible());
            QVERIFY(sheet->errorRow()->isVisibleTo(sheet));
            QCOMPARE(sheet->errorMessage()->message(), error);
            QVERIFY(sheet->primaryButton()->isEnabled());
            QVERIFY(app().showSetup());
        }
        QCOMPARE(server().requests().size(), 1);
    }

    // The sheet grows for a long message (the refused connection's) rather
    // than squeezing the field.
    void longErrorKeepsTheFieldWhole()
    {
        present(u"http://127.0.0.1:%1"_qs.arg(LoopbackHttpServer::unusedPort()));
        chooseMode(sheet(), SetupMode::apiKey);
        fill(sheet(), {}, {}, u"k"_qs);
        QTest::mouseClick(sheet().primaryButton(), Qt::LeftButton);
        QTRY_VERIFY(sheet().errorRow()->isVisibleTo(&sheet()));
        QVERIFY(sheet().apiKeyField()->height() >= sheet().apiKeyField()->minimumSizeHint().height());
    }

    // Ctrl+Return is the primary button; Escape and the window's close
    // button are Cancel, which ends the program. (Ctrl+Escape is the
    // settings sheet's test: both sheets bind it the same way.)
    void keys_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::newRow("Ctrl+Return") << u"Ctrl+Return"_qs;
        QTest::newRow("Escape") << u"Esc"_qs;
        QTest::newRow("window closed") << QString();
    }
    void keys()
    {
        QFETCH(QString, keys);
        const bool submits = keys == u"Ctrl+Return"_qs;
        present(server().baseUrl());
        fill(sheet(), u"ana"_qs, u"pw"_qs, {});
        QSignalSpy quit(&sheet(), &SetupView::quitRequested);
        if (keys.isEmpty())
            sheet().close();
        else
            QTest::keySequence(sheet().usernameField(), QKeySequence(keys));
        QTRY_COMPARE(server().requests().size(), int(submits));
        QTRY_VERIFY(!sheet().model()->isLoading());
        QCOMPARE(quit.size(), int(!submits));
        QVERIFY(sheet().isVisible());
    }
};

QTEST_MAIN(SetupViewTest)
#include "SetupViewTest.moc"
