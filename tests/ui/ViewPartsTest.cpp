#include "BlockingWait.h"
#include "UiTestSupport.h"
#include "ui/QrCodeView.h"
#include "ui/RecentUploadRow.h"
#include "ui/ResultView.h"
#include "ui/UploadProgressView.h"
#include "widgets/TabularLabel.h"

#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::UploadProgress)
Q_DECLARE_METATYPE(sendova::Language)

class ViewPartsTest : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;

public Q_SLOTS:
    // Stands in for the desktop's browser.
    void openUrl(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    void init() { LocalizationService::shared().setLanguage(Language::english); }

    void progressFigures_data()
    {
        QTest::addColumn<UploadProgress>("progress");
        QTest::addColumn<double>("bar");
        QTest::addColumn<QString>("texts"); // status line and percentage
        QTest::addColumn<bool>("transferShown");

        const auto at = [](UploadState state, qint64 sent, qint64 size = 1000) {
            return UploadProgress{state, u"a.bin"_qs, size, sent, 2000};
        };
        // Hashing fills the bar's first tenth, the transfer the rest.
        QTest::newRow("hashing") << at(UploadState::hashing(0.426), 0) << 0.0426
                                 << u"Preparing file… 42% | 0%"_qs << false;
        QTest::newRow("checking") << at(UploadState::checkingDuplicate(), 0) << 0.1
                                  << u"Checking for duplicates… | 0%"_qs << false;
        QTest::newRow("uploading half")
            << at(UploadState::uploading(), 500) << 0.55 << u"Uploading… | 50%"_qs << true;
        QTest::newRow("uploading an empty file")
            << at(UploadState::uploading(), 180, 0) << 0.1 << u"Uploading… | 0%"_qs << true;
        QTest::newRow("framing past the end")
            << at(UploadState::uploading(), 1180) << 1.0 << u"Uploading… | 100%"_qs << true;
        QTest::newRow("completed") << at(UploadState::completed(u"l"_qs, false), 1180) << 1.0
                                   << u"Upload complete | 100%"_qs << false;
        QTest::newRow("failed") << at(UploadState::failed(u"x"_qs), 500) << 0.0 << u"Upload failed | 50%"_qs
                                << false;
    }

    void progressFigures()
    {
        QFETCH(UploadProgress, progress);
        QFETCH(double, bar);
        QFETCH(QString, texts);
        QFETCH(bool, transferShown);
        UploadProgressView view;
        view.show();
        // Every step passes through uploading first, so leaving it is tested too.
        view.setProgress(UploadProgress{UploadState::uploading(), u"a.bin"_qs, 1000, 10, 2000});

        view.setProgress(progress);

        QCOMPARE(view.bar()->value(), int(std::lround(bar * UploadProgressView::barSteps)));
        // The percentage, then speed, bytes sent and time left.
        const QList<TabularLabel *> figures = view.findChildren<TabularLabel *>();
        QCOMPARE(UploadProgressView::statusText(progress) + u" | "_qs + figures.value(0)->text(), texts);
        QCOMPARE(figures.value(2)->isVisibleTo(&view), transferShown);
    }

    // Open hands the link to the browser; Done (Return) dismisses and leaves the
    // clipboard alone. A stored copy says so.
    void copyConfirmationEndsTwoSecondsAfterTheFirstCopy()
    {
        ModelFixture fixture;
        int dismissed = 0;
        ResultView view(u"https://s.example/f/x"_qs, true, u"a.txt"_qs, fixture.model.get(),
                        [&dismissed] { ++dismissed; });
        view.show();
        QCOMPARE(view.headline()->text(), text("result.duplicate.title"));
        QDesktopServices::setUrlHandler(u"https"_qs, this, "openUrl");
        view.openButton()->click();
        QDesktopServices::unsetUrlHandler(u"https"_qs);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(u"https://s.example/f/x"_qs)});
        QGuiApplication::clipboard()->clear();

        view.copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://s.example/f/x"_qs);
        QCOMPARE(view.linkCaption()->text(), text("result.url.copied"));
        QTest::qWait(1500);
        view.linkBox()->click();
        QTest::qWait(650);

        QCOMPARE(view.linkCaption()->text(), text("result.url.label"));
        QGuiApplication::clipboard()->setText(u"mine"_qs);
        // Done, by the key its colour promises.
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(&view, Qt::Key_Return);
        QTRY_COMPARE(dismissed, 1);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"mine"_qs);
    }

    // An automatic copy the desktop could not confirm (Wayland without focus
    // or data-control) asks for a press of Copy instead of claiming success,
    // and a Copy that fails claims nothing either.
    void unconfirmedCopyAsksForCopy()
    {
        ModelFixture fixture;
        fixture.copies = false;
        AppConfig settings = fixture.model->config();
        settings.autoCopyToClipboard = true;
        fixture.model->setConfig(settings);
        fixture.server.enqueue(
            ScriptedReply::json(200, R"({"Success":true,"Data":{"Url":"https://s.example/f/x",)"
                                     R"("ShortCode":"x","FileName":"","FileSize":0,"IsDuplicate":false}})"));
        blockingWait(fixture.model->upload(fixture.writeFile(u"a.txt"_qs)));
        ResultView view(u"https://s.example/f/x"_qs, false, u"a.txt"_qs, fixture.model.get(), {});
        QCOMPARE(view.linkCaption()->text(), u"Link ready — press Copy"_qs);
        view.copyButton()->click();
        QVERIFY(!view.isCopied());
        fixture.copies = true;
        view.copyButton()->click();
        QVERIFY(view.isCopied() && fixture.model->uncopiedLink().isEmpty());
    }

    // The finder pattern's dark ring in the top-left corner.
    void qrCodeHasItsFinderPattern()
    {
        const QrCodeView view(u"https://s.example/f/abcdef"_qs);
        const QrCode &code = view.code();
        QVERIFY(code.size >= 21);
        QVERIFY(code.isDark(0, 0) && code.isDark(6, 0) && code.isDark(0, 6) && !code.isDark(1, 1));
    }

    void relativeTime_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<Language>("language");
        QTest::addColumn<QString>("shown");
        QTest::newRow("minutes") << qint64(5 * 60 + 59) << Language::english << u"5 min ago"_qs;
        QTest::newRow("clock set back") << qint64(-600) << Language::english << u"just now"_qs;
        QTest::newRow("Portuguese") << qint64(3 * 86400) << Language::portuguese << u"há 3 dias"_qs;
    }

    void relativeTime()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(Language, language);
        QFETCH(QString, shown);
        LocalizationService::shared().setLanguage(language);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(RecentUploadRow::relativeTime(now.addSecs(-secondsAgo), now), shown);
    }
};

QTEST_MAIN(ViewPartsTest)
#include "ViewPartsTest.moc"
