#include "share/ShareView.h"
#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace sendova;

Q_DECLARE_METATYPE(ShareState::Kind)

namespace {

QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
}

ShareState stateOf(ShareState::Kind kind)
{
    switch (kind) {
    case ShareState::Kind::success:
        return ShareState::success(QStringLiteral("https://files.example/abc"));
    case ShareState::Kind::error:
        return ShareState::error(QStringLiteral("Connection refused"));
    case ShareState::Kind::idle:
        return ShareState::idle();
    case ShareState::Kind::loading:
        return ShareState::loading();
    case ShareState::Kind::hashing:
        return ShareState::hashing();
    case ShareState::Kind::uploading:
        return ShareState::uploading();
    }
    return {};
}

// Texts of the labels the current page shows, in layout order.
QStringList visibleTexts(ShareView &view)
{
    QStringList texts;
    for (QLabel *label : view.content()->currentWidget()->findChildren<QLabel *>()) {
        if (label->isVisibleTo(&view) && !label->text().isEmpty())
            texts << label->text();
        else if (label->isVisibleTo(&view) && !label->toolTip().isEmpty())
            texts << label->toolTip(); // elided labels keep the whole text here
    }
    return texts;
}

struct Ends
{
    int cancels = 0;
    int completes = 0;
};

} // namespace

class ShareViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LocalizationService::shared().setLanguage(Language::english); }

    // The header notes files left out, and only then.
    void filesLeftOutNote()
    {
        ShareViewModel model;
        ShareView view(&model);
        view.show();
        const QList<QLabel *> header = view.findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
        QCOMPARE(header.size(), 3);
        QVERIFY(!header[2]->isVisibleTo(&view));
        model.setFilesLeftOut(2);
        QVERIFY(header[2]->isVisibleTo(&view));
        QCOMPARE(header[2]->toolTip(), QStringLiteral("Only the first of 3 files is uploaded"));
    }

    void contentAndButtonPerState_data()
    {
        QTest::addColumn<ShareState::Kind>("kind");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("copyButton");
        QTest::addColumn<bool>("buttonCompletes");

        const QString cancel = text("share.button.cancel");
        const QString close = text("share.button.close");
        QTest::newRow("idle") << ShareState::Kind::idle << QStringList{text("share.status.preparing")}
                              << cancel << false << false;
        QTest::newRow("loading") << ShareState::Kind::loading << QStringList{text("share.status.loading")}
                                 << cancel << false << false;
        QTest::newRow("hashing") << ShareState::Kind::hashing
                                 << QStringList{text("share.status.hashing"), QStringLiteral("report.pdf")}
                                 << cancel << false << false;
        QTest::newRow("uploading") << ShareState::Kind::uploading
                                   << QStringList{text("share.status.uploading"), QStringLiteral("0%"),
                                                  QStringLiteral("report.pdf")}
                                   << cancel << false << false;
        // The link shows until it is on the clipboard.
        QTest::newRow("success") << ShareState::Kind::success
                                 << QStringList{text("share.status.uploaded"),
                                                QStringLiteral("https://files.example/abc")}
                                 << close << true << true;
        QTest::newRow("success, link copied")
            << ShareState::Kind::success
            << QStringList{text("share.status.uploaded"), text("share.url.copied")} << close << true << true;
        QTest::newRow("error") << ShareState::Kind::error
                               << QStringList{text("share.error.title"), QStringLiteral("Connection refused")}
                               << close << false << false;
    }

    void contentAndButtonPerState()
    {
        QFETCH(ShareState::Kind, kind);
        QFETCH(QStringList, shown);
        QFETCH(QString, button);
        QFETCH(bool, copyButton);
        QFETCH(bool, buttonCompletes);

        ShareViewModel model;
        Ends ends;
        model.setOnCancel([&] { ++ends.cancels; });
        model.setOnComplete([&] { ++ends.completes; });
        model.setFileName(QStringLiteral("report.pdf"));
        model.setLinkCopied(QByteArray(QTest::currentDataTag()).endsWith("copied"));
        ShareView view(&model);
        view.show();
        model.setState(stateOf(kind));

        QCOMPARE(visibleTexts(view), shown);
        QCOMPARE(view.endButton()->text(), button);
        QCOMPARE(view.copyButton()->isVisibleTo(&view), copyButton);
        if (copyButton)
            QCOMPARE(view.copyButton()->text(), text("share.button.copy_url"));

        view.endButton()->click();
        QCOMPARE(ends.completes, buttonCompletes ? 1 : 0);
        QCOMPARE(ends.cancels, buttonCompletes ? 0 : 1);
    }

    void keyboard_data()
    {
        QTest::addColumn<ShareState::Kind>("kind");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("cancels");
        QTest::addColumn<int>("completes");

        const int escape = Qt::Key_Escape;
        const int enter = Qt::Key_Return;
        QTest::newRow("escape while preparing") << ShareState::Kind::idle << escape << 1 << 0;
        QTest::newRow("escape while uploading") << ShareState::Kind::uploading << escape << 1 << 0;
        QTest::newRow("return while uploading") << ShareState::Kind::uploading << enter << 0 << 0;
        QTest::newRow("return after success") << ShareState::Kind::success << enter << 0 << 1;
        QTest::newRow("escape after success") << ShareState::Kind::success << escape << 0 << 0;
        QTest::newRow("escape after error") << ShareState::Kind::error << escape << 0 << 0;
    }

    // Keys reach the panel from whatever has the focus; the button has it.
    void keyboard()
    {
        QFETCH(ShareState::Kind, kind);
        QFETCH(int, key);
        QFETCH(int, cancels);
        QFETCH(int, completes);

        ShareViewModel model;
        Ends ends;
        model.setOnCancel([&] { ++ends.cancels; });
        model.setOnComplete([&] { ++ends.completes; });
        ShareView view(&model);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        model.setState(stateOf(kind));
        view.endButton()->setFocus();

        const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
        QCOMPARE(ends.cancels, cancels);
        QCOMPARE(ends.completes, completes);
    }

    void uploadingRows_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("percent");
        QTest::addColumn<QString>("speedText");

        QTest::newRow("first half second") << 0.374 << 0.0 << QStringLiteral("37%") << QString();
        QTest::newRow("almost done") << 0.999 << 999.0 << QStringLiteral("99%") << QStringLiteral("999 B/s");
        QTest::newRow("done") << 1.0 << 1'500'000.0 << QStringLiteral("100%") << QStringLiteral("1.5 MB/s");
    }

    void uploadingRows()
    {
        QFETCH(double, progress);
        QFETCH(double, speed);
        QFETCH(QString, percent);
        QFETCH(QString, speedText);

        ShareViewModel model;
        model.setFileName(QStringLiteral("clip.mov"));
        ShareView view(&model);
        view.show();
        model.setState(ShareState::uploading());
        model.setUploadProgress(progress);
        model.setUploadSpeed(speed);

        QStringList expected{text("share.status.uploading"), percent, QStringLiteral("clip.mov")};
        if (!speedText.isEmpty())
            expected << speedText;
        QCOMPARE(visibleTexts(view), expected);
        auto *bar = view.content()->currentWidget()->findChild<QProgressBar *>();
        QCOMPARE(double(bar->value()) / bar->maximum(), progress);
    }

    void hashingWithoutFileName()
    {
        ShareViewModel model;
        ShareView view(&model);
        view.show();
        model.setState(ShareState::hashing());
        model.setHashProgress(0.5);
        QCOMPARE(visibleTexts(view), QStringList{text("share.status.hashing")});
        auto *bar = view.content()->currentWidget()->findChild<QProgressBar *>();
        QCOMPARE(bar->value(), bar->maximum() / 2);
    }

    // Each state's content must fit the panel: nothing cut at the bottom,
    // nothing pushed past an edge, even with a long name and a long error.
    void everyStateFits_data()
    {
        QTest::addColumn<ShareState>("state");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("messageCut");

        const QString longName =
            QStringLiteral("Quarterly report for the board meeting, final version (3) - reviewed.pdf");
        QTest::newRow("uploading") << ShareState::uploading() << longName << false;
        QTest::newRow("success, long link, files left out")
            << ShareState::success(QStringLiteral("https://files.example.com/s/") + QString(80, u'x'))
            << longName << false;
        QTest::newRow("unbreakable error")
            << ShareState::error(
                   QStringLiteral("/home/someone/Documents/Projects/2026/Quarterly-reports/final/"
                                  "board-meeting-quarterly-report-final-version.pdf: No such file"))
            << QStringLiteral("report.pdf") << false;
        QTest::newRow("error longer than the panel")
            << ShareState::error(QStringLiteral("The server said: ").repeated(30))
            << QStringLiteral("report.pdf") << true;
    }

    void everyStateFits()
    {
        QFETCH(ShareState, state);
        QFETCH(QString, fileName);
        QFETCH(bool, messageCut);

        ShareViewModel model;
        if (!fileName.isEmpty())
            model.setFileName(fileName);
        if (QByteArray(QTest::currentDataTag()).contains("files left out"))
            model.setFilesLeftOut(4);
        ShareView view(&model);
        view.show();
        model.setState(state);
        model.setHashProgress(0.42);
        model.setUploadProgress(0.374);
        model.setUploadSpeed(2'345'678);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();

        const QRect panel = view.rect();
        const QList<QWidget *> widgets = view.findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (!widget->isVisibleTo(&view) || widget->inherits("QStackedWidget"))
                continue;
            const QRect area(widget->mapTo(&view, QPoint(0, 0)), widget->size());
            QVERIFY2(panel.contains(area), qPrintable(QString::fromLatin1(widget->metaObject()->className()) +
                                                      QStringLiteral(" at ") + QString::number(area.y())));
            auto *label = qobject_cast<QLabel *>(widget);
            if (!label)
                continue;
            const bool isMessage =
                state.kind() == ShareState::Kind::error && label->toolTip() == state.text();
            const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width())
                                                          : label->sizeHint().height();
            if (isMessage && messageCut)
                QVERIFY2(label->height() < needed, "the whole message fits after all");
            else
                QVERIFY2(label->height() >= needed, qPrintable(label->text() + label->toolTip()));
            if (!label->hasHeightForWidth() && !label->text().isEmpty())
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        }

        const QString folder = qEnvironmentVariable("SENDOVA_SHARE_PNG_DIR");
        if (!folder.isEmpty())
            view.grab().save(
                folder + QStringLiteral("/share-") +
                QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')) +
                QStringLiteral(".png"));
    }
};

QTEST_MAIN(ShareViewTest)
#include "ShareViewTest.moc"
