#include "share/ShareView.h"
#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace sendova;

namespace {

const QString longName =
    QStringLiteral("Quarterly report for the board meeting, final version (3) - reviewed.pdf");

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
    // request from it ("cancel", "complete" or nothing). Everything must fit
    // the panel: nothing cut at the bottom, nothing pushed past an edge, even
    // with a long name, an unbreakable error and the note on the files left out.
    void states_data()
    {
        QTest::addColumn<ShareState>("state");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<bool>("copyButton");
        QTest::addColumn<QStringList>("buttonEscapeReturn");

        const QString cancel = QStringLiteral("cancel");
        const QString complete = QStringLiteral("complete");
        QTest::newRow("uploading") << ShareState::uploading()
                                   << QStringList{text("share.status.uploading"), QStringLiteral("99%"),
                                                  longName, QStringLiteral("1.5 MB/s")}
                                   << false << QStringList{cancel, cancel, QString()};
        // The link shows until it is on the clipboard.
        const QString link = QStringLiteral("https://files.example.com/s/") + QString(80, u'x');
        QTest::newRow("success") << ShareState::success(link)
                                 << QStringList{text("share.status.uploaded"), link} << true
                                 << QStringList{complete, QString(), complete};
        QTest::newRow("success, link copied")
            << ShareState::success(link)
            << QStringList{text("share.status.uploaded"), text("share.url.copied")} << true
            << QStringList{complete, QString(), complete};
        const QString path = QStringLiteral("/home/someone/Documents/Projects/2026/Quarterly-reports/final/"
                                            "board-meeting-quarterly-report-final-version.pdf: No such file");
        QTest::newRow("unbreakable error")
            << ShareState::error(path) << QStringList{text("share.error.title"), path} << false
            << QStringList{cancel, QString(), QString()};
    }

    void states()
    {
        QFETCH(ShareState, state);
        QFETCH(QStringList, shown);
        QFETCH(bool, copyButton);
        QFETCH(QStringList, buttonEscapeReturn);

        ShareViewModel model;
        QString ended;
        model.setOnCancel([&ended] { ended = QStringLiteral("cancel"); });
        model.setOnComplete([&ended] { ended = QStringLiteral("complete"); });
        model.setFileName(longName);
        model.setLinkCopied(QByteArray(QTest::currentDataTag()).endsWith("copied"));
        model.setHashProgress(0.42);
        model.setUploadProgress(0.999);
        model.setUploadSpeed(1'500'000.0);
        ShareView view(&model);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QLabel *note = view.findChildren<QLabel *>(Qt::FindDirectChildrenOnly).constLast();
        QVERIFY(!note->isVisibleTo(&view));
        model.setFilesLeftOut(4);
        QCOMPARE(note->toolTip(), QStringLiteral("Only the first of 5 files is uploaded"));
        model.setState(state);
        QCoreApplication::processEvents();

        QCOMPARE(visibleTexts(view), shown);
        QCOMPARE(view.endButton()->text(),
                 text(state.isFinal() ? "share.button.close" : "share.button.cancel"));
        QCOMPARE(view.copyButton()->isVisibleTo(&view), copyButton);
        const QList<QWidget *> widgets = view.findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (!widget->isVisibleTo(&view) || widget->inherits("QStackedWidget"))
                continue;
            const QRect area(widget->mapTo(&view, QPoint(0, 0)), widget->size());
            QVERIFY2(view.rect().contains(area), widget->metaObject()->className());
            auto *label = qobject_cast<QLabel *>(widget);
            if (!label)
                continue;
            const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width())
                                                          : label->sizeHint().height();
            QVERIFY2(label->height() >= needed, qPrintable(label->text() + label->toolTip()));
            if (!label->hasHeightForWidth() && !label->text().isEmpty())
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        }

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
};

QTEST_MAIN(ShareViewTest)
#include "ShareViewTest.moc"
