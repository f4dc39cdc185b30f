#include "ui/MenuBarView.h"
#include "UiTestSupport.h"
#include "ui/DropZoneView.h"
#include "ui/ErrorPanel.h"
#include "ui/RecentUploadRow.h"
#include "ui/ResultView.h"
#include "ui/SettingsView.h"
#include "ui/SetupView.h"
#include "ui/UploadProgressView.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace sendova;
using namespace sendova::test;

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

    QList<QUrl> m_opened;

public Q_SLOTS:
    // Stands in for the desktop's mail program.
    void openUrl(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    void init() { LocalizationService::shared().setLanguage(Language::english); }

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
        ModelFixture fixture;
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

        // A file manager's drag proposes a move (Shift held, or its own
        // default): the answer is a copy, or the source may delete the original.
        const QPoint centre = zone->rect().center();
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(enter.proposedAction(), Qt::MoveAction);
        QApplication::sendEvent(zone, &enter);
        QCOMPARE(enter.isAccepted(), files > 0);
        if (files == 0)
            return;
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDragMoveEvent move(centre, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(zone, &move);
        QCOMPARE(move.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(centre), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(zone, &drop);
        QVERIFY(drop.isAccepted() && drop.dropAction() == Qt::CopyAction);
        QTRY_COMPARE(fixture.server.requests().size(), 1);
        QVERIFY(fixture.server.requests()[0].body.contains("filename=\"file1.txt\""));
    }

    // Ctrl+Q ends the program from the popover and from either sheet, each a
    // window of its own; so does the popover's Quit button.
    void quitFromEveryWindow_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("settings") << u"settings"_qs;
        QTest::newRow("setup") << u"setup"_qs;
        QTest::newRow("popover") << u"popover"_qs;
        QTest::newRow("popover's Quit button") << u"button"_qs;
    }

    void quitFromEveryWindow()
    {
        QFETCH(QString, from);
        ModelFixture fixture;
        MenuBarView view(fixture.model.get());
        QSignalSpy quit(&view, &MenuBarView::quitRequested);
        view.show();
        if (from == u"settings")
            fixture.model->setShowSettings(true);
        else if (from == u"setup")
            fixture.model->setShowSetup(true);
        QWidget *window = from == u"settings" ? static_cast<QWidget *>(view.settingsView())
                          : from == u"setup"  ? static_cast<QWidget *>(view.setupView())
                                              : &view;
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        if (from == u"button")
            qobject_cast<QAbstractButton *>(view.footer())->click();
        else
            QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quit.size(), 1);
    }

    // A refusal shows our line and, under it, what the server said. Report
    // writes to support with the upload's log; Try Again goes back to the
    // drop zone without sending the file again, from the keyboard too.
    void refusalExplained()
    {
        QDesktopServices::setUrlHandler(u"mailto"_qs, this, "openUrl");
        m_opened.clear();
        ModelFixture fixture;
        fixture.server.enqueue(ScriptedReply::json(
            413, R"({"Success":false,"Error":{"Code":"TOO_LARGE","Message":"Limit is 8 MB"}})"));
        MenuBarView view(fixture.model.get());
        view.show();
        fixture.model->startUpload(fixture.writeFile(u"big.bin"_qs));
        QTRY_VERIFY(view.errorPanel()->isVisible());
        QCOMPARE(view.errorPanel()->message(), u"Server error (413)\nLimit is 8 MB"_qs);

        view.errorPanel()->reportButton()->click();
        QDesktopServices::unsetUrlHandler(u"mailto"_qs);
        QCOMPARE(m_opened.size(), 1);
        QVERIFY2(m_opened[0].query(QUrl::FullyDecoded).contains(u"Failed: "_qs),
                 qPrintable(m_opened[0].toString()));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(&view, Qt::Key_Enter);
        QTRY_COMPARE(shownParts(view), u"header dropZone footer"_qs);
        QCOMPARE(fixture.server.requests().size(), 1);
    }

    // Cancel in the middle of a transfer: the popover is back at its drop
    // zone at once, and the server sees the client hang up.
    void cancelDuringTransfer()
    {
        ModelFixture fixture;
        ScriptedReply slow = ScriptedReply::json(200, "{}");
        slow.reading = ScriptedReply::Reading::slowly;
        slow.slowChunkBytes = 256 * 1024;
        slow.slowInterval = std::chrono::milliseconds(5);
        fixture.server.enqueue(slow);
        MenuBarView view(fixture.model.get());
        view.show();
        const QUrl file = fixture.writeFile(u"big.bin"_qs);
        QVERIFY(QFile::resize(file.toLocalFile(), 64 * 1024 * 1024));
        fixture.model->startUpload(file);
        QTRY_VERIFY(fixture.model->uploadProgress().state.get<UploadState::Uploading>());
        QVERIFY(fixture.server.waitForRequests(1));

        view.progressView()->cancelButton()->click();

        QCOMPARE(shownParts(view), u"header dropZone footer"_qs);
        QVERIFY(fixture.server.waitForClientClose(1));
    }

    // The popover's body with a list of recent uploads. A row copies its own
    // link; Clear takes the list and its file away.
    void recentRowsCopyAndClear()
    {
        ModelFixture fixture;
        fixture.model->addRecent(recent(u"one.txt"_qs));
        fixture.model->addRecent(recent(u"two.txt"_qs));
        MenuBarView view(fixture.model.get());
        view.show();
        auto *row = qobject_cast<RecentUploadRow *>(view.recentRows().value(1));
        QVERIFY(row);
        QCOMPARE(shownParts(view), u"header dropZone recents footer"_qs);
        QGuiApplication::clipboard()->clear();
        row->copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://s.example/f/one.txt"_qs);

        view.clearButton()->click();

        QVERIFY(!QFile::exists(fixture.config->recentsURL()));
        QCOMPARE(shownParts(view), u"header dropZone footer"_qs);
    }

    void languageSwitchRelabels()
    {
        ModelFixture fixture;
        MenuBarView view(fixture.model.get());
        LocalizationService::shared().setLanguage(Language::spanish);
        QCOMPARE(qobject_cast<QAbstractButton *>(view.footer())->text(), text("menu.quit"));
    }
};

QTEST_MAIN(MenuBarViewTest)
#include "MenuBarViewTest.moc"
