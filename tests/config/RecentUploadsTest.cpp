#include "ConfigTestSupport.h"
#include "config/ConfigService.h"
#include "support/StrictJson.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace sendova;
using namespace sendova::test;

namespace {

const QDateTime now(QDate(2026, 12, 5), QTime(16, 25, 11), QTimeZone::utc());

RecentUpload entry(int number, const QDateTime &expiresAt = now.addDays(7))
{
    return RecentUpload::make(QStringLiteral("file-%1.bin").arg(number), 1000 + number,
                              QStringLiteral("https://l.example/%1").arg(number), now.addSecs(-60 * number),
                              expiresAt);
}

QStringList urls(const QList<RecentUpload> &entries)
{
    QStringList result;
    for (const RecentUpload &item : entries)
        result.append(item.url);
    return result;
}

QByteArray oneEntryFile(const QByteArray &replaceMember = {}, const QByteArray &with = {})
{
    QList<QPair<QByteArray, QByteArray>> members = {
        {"id", "\"3F2504E0-4F89-11D3-9A0C-0305E82C3301\""},
        {"fileName", "\"a.txt\""},
        {"fileSize", "12"},
        {"url", "\"https://l.example/a\""},
        {"uploadedAt", "\"2026-12-05T16:25:11Z\""},
        {"expiresAt", "\"2026-12-12T16:25:11Z\""},
    };
    QByteArray json = "[{";
    bool first = true;
    for (const auto &[name, value] : members) {
        if (name == replaceMember && with.isNull())
            continue;
        json += (first ? "" : ",") + ('"' + name + "\":" + (name == replaceMember ? with : value));
        first = false;
    }
    return json + "}]";
}

} // namespace

class RecentUploadsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<ConfigService> m_service;

    void writeEntries(const QList<RecentUpload> &entries)
    {
        QVERIFY(writeAll(m_service->recentsURL(), RecentUpload::encodeList(entries)));
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_service = std::make_unique<ConfigService>(m_root->path(), [] { return now; });
    }

    void missingFileIsAnEmptyList() { QVERIFY(m_service->loadRecentUploads().isEmpty()); }

    void addKeepsNewestFirstAndTheNewestTen()
    {
        QList<RecentUpload> ten;
        for (int number = 1; number <= 10; ++number)
            ten.append(entry(number));
        writeEntries(ten);

        const RecentUpload newest = entry(11);
        m_service->addRecentUpload(newest);
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(loaded.size(), 10);
        QCOMPARE(loaded.first(), newest);
        QCOMPARE(loaded.mid(1), ten.mid(0, 9));
    }

    void addDropsExpiredEntries()
    {
        QList<RecentUpload> ten;
        for (int number = 1; number <= 10; ++number)
            ten.append(entry(number, number % 3 == 0 ? now.addSecs(-1) : now.addDays(1)));
        writeEntries(ten);

        m_service->addRecentUpload(entry(11));
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(
            urls(loaded),
            (QStringList{QStringLiteral("https://l.example/11"), QStringLiteral("https://l.example/1"),
                         QStringLiteral("https://l.example/2"), QStringLiteral("https://l.example/4"),
                         QStringLiteral("https://l.example/5"), QStringLiteral("https://l.example/7"),
                         QStringLiteral("https://l.example/8"), QStringLiteral("https://l.example/10")}));
        // The expired ones are gone from the file itself, not only from view.
        QCOMPARE(RecentUpload::decodeList(readAll(m_service->recentsURL())).size(), 8);
    }

    void expiryBoundary_data()
    {
        QTest::addColumn<QDateTime>("expiresAt");
        QTest::addColumn<bool>("kept");
        QTest::newRow("expires exactly now") << now << true;
        QTest::newRow("expired a second ago") << now.addSecs(-1) << false;
        QTest::newRow("expires in a second") << now.addSecs(1) << true;
    }
    void expiryBoundary()
    {
        QFETCH(QDateTime, expiresAt);
        QFETCH(bool, kept);
        writeEntries({entry(1, expiresAt)});
        QCOMPARE(m_service->loadRecentUploads().size(), kept ? 1 : 0);
    }

    void loadNeitherCapsNorRewrites()
    {
        QList<RecentUpload> twelve;
        for (int number = 1; number <= 12; ++number)
            twelve.append(entry(number, number == 12 ? now.addDays(-1) : now.addDays(1)));
        writeEntries(twelve);
        const QByteArray before = readAll(m_service->recentsURL());
        QCOMPARE(m_service->loadRecentUploads(), twelve.mid(0, 11));
        QCOMPARE(readAll(m_service->recentsURL()), before);
    }

    void oneBadEntryRejectsTheFile_data()
    {
        QTest::addColumn<QByteArray>("contents");
        for (const char *member : {"id", "fileName", "fileSize", "url", "uploadedAt", "expiresAt"})
            QTest::addRow("%s missing", member) << oneEntryFile(member);
        QTest::newRow("id not a UUID") << oneEntryFile("id", "\"not-a-uuid\"");
        QTest::newRow("fileSize as text") << oneEntryFile("fileSize", "\"12\"");
        QTest::newRow("date with fractions") << oneEntryFile("uploadedAt", "\"2026-12-05T16:25:11.250Z\"");
        QTest::newRow("impossible date") << oneEntryFile("expiresAt", "\"2026-02-30T10:00:00Z\"");
        QTest::newRow("entry not an object") << QByteArray("[\"https://l.example/a\"]");
        QTest::newRow("number past any double") << oneEntryFile("fileSize", "26E66666");
        QTest::newRow("good entry then bad one")
            << oneEntryFile().chopped(1) + "," + oneEntryFile("url").mid(1);
    }
    void oneBadEntryRejectsTheFile()
    {
        QFETCH(QByteArray, contents);
        QVERIFY(writeAll(m_service->recentsURL(), contents));
        QVERIFY(m_service->loadRecentUploads().isEmpty());

        // The next addition starts afresh.
        const RecentUpload added = entry(1);
        m_service->addRecentUpload(added);
        QCOMPARE(m_service->loadRecentUploads(), QList<RecentUpload>{added});
    }

    void readingAcceptsOtherSpellings()
    {
        const QByteArray contents =
            "[{\"expiresAt\":\"2026-12-12T17:25:11+01:00\",\"url\":\"https://l.example/a\","
            "\"uploadedAt\":\"2026-12-05T16:25:11Z\",\"fileSize\":12.0,\"fileName\":\"a.txt\","
            "\"id\":\"3f2504e0-4f89-11d3-9a0c-0305e82c3301\",\"extra\":true}]";
        QVERIFY(writeAll(m_service->recentsURL(), contents));
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded.first().id,
                 QUuid::fromString(QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301")));
        QCOMPARE(loaded.first().expiresAt,
                 QDateTime(QDate(2026, 12, 12), QTime(16, 25, 11), QTimeZone::utc()));
        QCOMPARE(loaded.first().fileSize, qint64(12));
    }

    void fileFormat()
    {
        RecentUpload item = entry(1);
        item.uploadedAt = QDateTime(QDate(2026, 12, 5), QTime(17, 25, 11, 987), QTimeZone(3600));
        item.fileName = QStringLiteral("résumé \"final\".pdf");
        item.fileSize = Q_INT64_C(5000000000);
        m_service->addRecentUpload(item);

        const QByteArray bytes = readAll(m_service->recentsURL());
        QCOMPARE(modeBits(m_service->recentsURL()), 0600);
        const json::OrderedJson json = json::OrderedJson::parse(bytes.constBegin(), bytes.constEnd());
        QVERIFY(json.is_array());
        const json::OrderedJson &object = json.at(0);
        const QString id = QString::fromStdString(object.at("id").get<std::string>());
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                     .match(id)
                     .hasMatch(),
                 qPrintable(id));
        QCOMPARE(object.at("uploadedAt").get<std::string>(), std::string("2026-12-05T16:25:11Z"));
        QCOMPARE(object.at("expiresAt").get<std::string>(), std::string("2026-12-12T16:25:11Z"));
        QVERIFY(object.at("fileSize").is_number_integer());
        QCOMPARE(object.at("fileSize").get<qint64>(), qint64(Q_INT64_C(5000000000)));
        QCOMPARE(object.size(), std::size_t(6));
        QVERIFY(bytes.count('\n') > 6);

        const RecentUpload loaded = m_service->loadRecentUploads().value(0);
        QCOMPARE(loaded.id, item.id);
        QCOMPARE(loaded.fileName, item.fileName);
        QCOMPARE(loaded.uploadedAt, QDateTime(QDate(2026, 12, 5), QTime(16, 25, 11), QTimeZone::utc()));
    }

    void sameLinkTwiceGivesTwoEntries()
    {
        RecentUpload first = entry(1);
        RecentUpload second = entry(1);
        m_service->addRecentUpload(first);
        m_service->addRecentUpload(second);
        const QList<RecentUpload> loaded = m_service->loadRecentUploads();
        QCOMPARE(urls(loaded), (QStringList{first.url, first.url}));
        QVERIFY(loaded.at(0).id != loaded.at(1).id);
        QCOMPARE(loaded.at(0).id, second.id);
    }

    void entryWithAnUnwritableDateIsNotAdded_data()
    {
        QTest::addColumn<QDateTime>("uploadedAt");
        QTest::addColumn<QDateTime>("expiresAt");
        QTest::newRow("invalid upload time") << QDateTime() << now.addDays(1);
        QTest::newRow("year past 9999")
            << now << QDateTime(QDate(10000, 1, 1), QTime(0, 0), QTimeZone::utc());
    }
    void entryWithAnUnwritableDateIsNotAdded()
    {
        QFETCH(QDateTime, uploadedAt);
        QFETCH(QDateTime, expiresAt);
        const RecentUpload kept = entry(1);
        m_service->addRecentUpload(kept);
        RecentUpload bad = entry(2);
        bad.uploadedAt = uploadedAt;
        bad.expiresAt = expiresAt;
        m_service->addRecentUpload(bad);
        QCOMPARE(m_service->loadRecentUploads(), QList<RecentUpload>{kept});
    }

    void interruptedWriteKeepsThePreviousFile()
    {
        m_service->addRecentUpload(entry(1));
        const QByteArray before = readAll(m_service->recentsURL());
        RecentUpload big = entry(2);
        big.fileName = QString(8192, QLatin1Char('n'));
        {
            const FileSizeLimit limit(1024);
            m_service->addRecentUpload(big);
        }
        QCOMPARE(readAll(m_service->recentsURL()), before);
        QCOMPARE(QDir(m_root->path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("recents.json")});
    }

    void clearRemovesTheFile()
    {
        m_service->addRecentUpload(entry(1));
        m_service->clearRecentUploads();
        QVERIFY(!QFile::exists(m_service->recentsURL()));
        QVERIFY(m_service->loadRecentUploads().isEmpty());
        m_service->clearRecentUploads();
    }
};

QTEST_GUILESS_MAIN(RecentUploadsTest)
#include "RecentUploadsTest.moc"
