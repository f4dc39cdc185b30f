#include "ui/SetupView.h"

#include "SheetTestSupport.h"
#include "ui/MenuBarView.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

namespace {

// The program asks for an account on that server.
void askForSetup(AppViewModel &app, const QString &server)
{
    AppConfig config = app.config();
    config._serverUrl = server;
    app.setConfig(config);
    app.setShowSetup(true);
}

} // namespace

class SetupViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Over the popover, typed as a user types; Ctrl+Return is the primary button.
    void signsIn()
    {
        SheetFixture fixture;
        MenuBarView popover(fixture.app.get());
        popover.show();
        askForSetup(*fixture.app, fixture.server->baseUrl());
        QTRY_VERIFY(popover.setupView());
        QPointer<SetupView> sheet = popover.setupView();
        QTest::keyClicks(sheet->usernameField(), u"ana"_qs);
        QTest::keyClicks(sheet->passwordField(), u"pw"_qs);
        fixture.server->enqueue(ScriptedReply::json(200, R"({"success":true,"data":{"apiKey":"sk_new"}})"));

        QTest::keySequence(sheet->usernameField(), QKeySequence(u"Ctrl+Return"_qs));

        QTRY_VERIFY(!sheet);
        QVERIFY(!fixture.app->showSetup());
        QCOMPARE(fixture.stored().apiKey, u"sk_new"_qs);
    }

    // The sheet grows for a long message (the refused connection's) rather
    // than squeezing the field.
    void longErrorKeepsTheFieldWhole()
    {
        SheetFixture fixture;
        askForSetup(*fixture.app, u"http://127.0.0.1:%1"_qs.arg(LoopbackHttpServer::unusedPort()));
        SetupView sheet(fixture.app.get());
        sheet.present();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QTest::mouseClick(sheet.modePicker()->segment(1), Qt::LeftButton);
        QTest::keyClicks(sheet.apiKeyField(), u"k"_qs);
        QTest::mouseClick(sheet.primaryButton(), Qt::LeftButton);
        QTRY_VERIFY(sheet.errorRow()->isVisibleTo(&sheet));
        QVERIFY(sheet.apiKeyField()->height() >= sheet.apiKeyField()->minimumSizeHint().height());
    }
};

QTEST_MAIN(SetupViewTest)
#include "SetupViewTest.moc"
