#include "share/ShareView.h"
#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace sendova;

namespace {

QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
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

} // namespace

class ShareViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LocalizationService::shared().setLanguage(Language::english); }

    // What each state shows, and how the button, Escape and Return end the
    // request from it ("cancel", "complete" or nothing).
    void statesAndKeys_data()
    {
        QTest::addColumn<ShareState>("state");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<bool>("copyButton");
        QTest::addColumn<QStringList>("buttonEscapeReturn");

        const QString cancel = QStringLiteral("cancel");
        const QString complete = QStringLiteral("complete");
        QTest::newRow("idle") << ShareState::idle() << QStringList{text("share.status.preparing")} << false
                              << QStringList{cancel, cancel, QString()};
        QTest::newRow("uploading") << ShareState::uploading()
                                   << QStringList{text("share.status.uploading"), QStringLiteral("99%"),
                                                  QStringLiteral("report.pdf"), QStringLiteral("1.5 MB/s")}
                                   << false << QStringList{cancel, cancel, QString()};
        // The link shows until it is on the clipboard.
        const ShareState success = ShareState::success(QStringLiteral("https://files.example/abc"));
        QTest::newRow("success") << success
                                 << QStringList{text("share.status.uploaded"),
                                                QStringLiteral("https://files.example/abc")}
                                 << true << QStringList{complete, QString(), complete};
        QTest::newRow("success, link copied")
            << success << QStringList{text("share.status.uploaded"), text("share.url.copied")} << true
            << QStringList{complete, QString(), complete};
        QTest::newRow("error") << ShareState::error(QStringLiteral("Connection refused"))
                               << QStringList{text("share.error.title"), QStringLiteral("Connection refused")}
                               << false << QStringList{cancel, QString(), QString()};
    }

    void statesAndKeys()
    {
        QFETCH(ShareState, state);
        QFETCH(QStringList, shown);
        QFETCH(bool, copyButton);
        QFETCH(QStringList, buttonEscapeReturn);

        ShareViewModel model;
        QString ended;
        model.setOnCancel([&ended] { ended = QStringLiteral("cancel"); });
        model.setOnComplete([&ended] { ended = QStringLiteral("complete"); });
        model.setFileName(QStringLiteral("report.pdf"));
        model.setLinkCopied(QByteArray(QTest::currentDataTag()).endsWith("copied"));
        model.setUploadProgress(0.999);
        model.setUploadSpeed(1'500'000.0);
        ShareView view(&model);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        model.setState(state);

        QCOMPARE(visibleTexts(view), shown);
        QCOMPARE(view.endButton()->text(),
                 text(state.isFinal() ? "share.button.close" : "share.button.cancel"));
        QCOMPARE(view.copyButton()->isVisibleTo(&view), copyButton);
        // No note in the header when no file was left out.
        QVERIFY(!view.findChildren<QLabel *>(Qt::FindDirectChildrenOnly).constLast()->isVisibleTo(&view));

        QStringList ends;
        view.endButton()->click();
        ends << std::exchange(ended, QString());
        // Keys reach the panel from whatever has the focus; the button has it.
        view.endButton()->setFocus();
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            QTest::keyClick(QApplication::focusWidget(), key);
            ends << std::exchange(ended, QString());
        }
        QCOMPARE(ends, buttonEscapeReturn);
    }

    // Each state's content must fit the panel: nothing cut at the bottom,
    // nothing pushed past an edge, even with a long name, a long error and
    // the note on the files left out.
    void everyStateFits_data()
    {
        QTest::addColumn<ShareState>("state");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("messageCut");

        const QString longName =
            QStringLiteral("Quarterly report for the board meeting, final version (3) - reviewed.pdf");
        QTest::newRow("uploading") << ShareState::uploading() << longName << false;
        QTest::newRow("success, long link")
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
        model.setFileName(fileName);
        model.setFilesLeftOut(4);
        ShareView view(&model);
        view.show();
        model.setState(state);
        model.setHashProgress(0.42);
        model.setUploadProgress(0.374);
        model.setUploadSpeed(2'345'678);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
        QCOMPARE(view.findChildren<QLabel *>(Qt::FindDirectChildrenOnly).constLast()->toolTip(),
                 QStringLiteral("Only the first of 5 files is uploaded"));

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
    }
};

QTEST_MAIN(ShareViewTest)
#include "ShareViewTest.moc"
