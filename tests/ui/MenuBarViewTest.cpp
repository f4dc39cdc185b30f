#include "ui/MenuBarView.h"
#include "UiTestSupport.h"
#include "ui/DropZoneView.h"
#include "ui/ErrorPanel.h"
#include "ui/RecentUploadRow.h"
#include "ui/ResultView.h"
#include "ui/UploadProgressView.h"

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace sendova;
using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::UploadProgress)

namespace {

// Which parts of the popover are on screen, in a fixed order.
QString shownParts(const MenuBarView &view)
{
    QStringList parts;
    const auto add = [&](const QWidget *part, const char *name) {
        if (part && part->isVisibleTo(&view))
            parts << QLatin1String(name);
    };
    add(view.settingsButton(), "header");
    add(view.dropZone(), "dropZone");
    add(view.recentSection(), "recents");
    add(view.footer(), "footer");
    add(view.progressView(), "progress");
    add(view.resultView(), "result");
    add(view.errorPanel(), "error");
    return parts.join(QLatin1Char(' '));
}

RecentUpload recent(const QString &name)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return RecentUpload::make(name, 3, QStringLiteral("https://s.example/f/") + name, now.addSecs(-300),
                              now.addDays(7));
}

} // namespace

class MenuBarViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { LocalizationService::shared().setLanguage(Language::english); }

    void bodyFollowsTheState_data()
    {
        QTest::addColumn<UploadProgress>("progress");
        QTest::addColumn<bool>("withRecents");
        QTest::addColumn<QString>("parts");

        const auto progress = [](UploadState state) { return UploadProgress{state, u"a.txt"_qs, 3, 0, 0}; };
        QTest::newRow("idle, no recents") << UploadProgress{} << false << u"header dropZone footer"_qs;
        QTest::newRow("idle with recents")
            << UploadProgress{} << true << u"header dropZone recents footer"_qs;
        QTest::newRow("hashing") << progress(UploadState::hashing(0.5)) << true << u"header progress"_qs;
        QTest::newRow("completed") << progress(UploadState::completed(u"https://s.example/f/x"_qs, false))
                                   << true << u"header result"_qs;
        QTest::newRow("failed") << progress(UploadState::failed(u"Disk on fire"_qs)) << true
                                << u"header error"_qs;
    }

    void bodyFollowsTheState()
    {
        QFETCH(UploadProgress, progress);
        QFETCH(bool, withRecents);
        QFETCH(QString, parts);
        ModelFixture fixture;
        if (withRecents)
            fixture.model->setRecentUploads({recent(u"one.txt"_qs)});
        MenuBarView view(fixture.model.get());
        view.show();

        fixture.model->setUploadProgress(progress);

        QCOMPARE(shownParts(view), parts);
        // Try again goes back to the drop zone; it does not upload again.
        if (view.errorPanel()->isVisibleTo(&view)) {
            view.errorPanel()->tryAgainButton()->click();
            QCOMPARE(fixture.model->uploadProgress(), UploadProgress{});
            QCOMPARE(shownParts(view), u"header dropZone recents footer"_qs);
        }
    }

    void drops_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("plainText");
        QTest::newRow("three files: the first goes") << 3 << false;
        QTest::newRow("plain text") << 0 << true;
        QTest::newRow("web link") << 0 << false;
    }

    void drops()
    {
        QFETCH(int, files);
        QFETCH(bool, plainText);
        const bool accepted = files > 0;
        ModelFixture fixture;
        fixture.server.setDefaultReply(ScriptedReply::json(200, uploadedReply));
        MenuBarView view(fixture.model.get());
        view.show();
        DropZoneView *zone = view.dropZone();

        QMimeData data;
        QList<QUrl> urls;
        for (int i = 0; i < files; ++i)
            urls << fixture.writeFile(QStringLiteral("file%1.txt").arg(i + 1));
        if (files == 0 && !plainText)
            urls << QUrl(u"https://example.com/page"_qs);
        if (!urls.isEmpty())
            data.setUrls(urls);
        if (plainText)
            data.setText(u"/etc/hostname"_qs);

        const QPoint centre = zone->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QCOMPARE(zone->isTargeted(), accepted);

        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &drop);
        QCOMPARE(drop.isAccepted(), accepted);
        QVERIFY(!zone->isTargeted());

        if (accepted) {
            QTRY_COMPARE(fixture.state(), UploadState::Case::completed);
            QCOMPARE(fixture.server.requests().size(), 1);
            QVERIFY(fixture.server.requests()[0].body.contains("filename=\"file1.txt\""));
        } else {
            QTest::qWait(100);
            QCOMPARE(fixture.state(), UploadState::Case::idle);
            QCOMPARE(fixture.server.requests().size(), 0);
        }
    }

    // A row copies its own link; Clear takes the list and its file away.
    void recentRowsCopyAndClear()
    {
        ModelFixture fixture;
        fixture.model->addRecent(recent(u"one.txt"_qs));
        fixture.model->addRecent(recent(u"two.txt"_qs));
        MenuBarView view(fixture.model.get());
        view.show();
        auto *row = qobject_cast<RecentUploadRow *>(view.recentRows().value(1));
        QVERIFY(row);
        QGuiApplication::clipboard()->clear();
        row->copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://s.example/f/one.txt"_qs);

        view.clearButton()->click();

        QVERIFY(!QFile::exists(fixture.config->recentsURL()));
        QVERIFY(!view.recentSection()->isVisibleTo(&view));
        QCOMPARE(view.recentRows().size(), 0);
    }

    void languageSwitchRelabels()
    {
        ModelFixture fixture;
        fixture.model->setRecentUploads({recent(u"one.txt"_qs)});
        MenuBarView view(fixture.model.get());
        view.show();
        auto *row = qobject_cast<RecentUploadRow *>(view.recentRows().value(0));
        auto *footer = qobject_cast<QAbstractButton *>(view.footer());

        LocalizationService::shared().setLanguage(Language::spanish);

        QCOMPARE(view.recentTitle()->text(), text("menu.recent"));
        QCOMPARE(footer->text(), text("menu.quit"));
        QCOMPARE(row->timeLabel()->text(), u"hace 5 min"_qs);
    }
};

QTEST_MAIN(MenuBarViewTest)
#include "MenuBarViewTest.moc"
