#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "ShareTestSupport.h"

#include "platform/MachineName.h"
#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace sendova;
using namespace sendova::test;

namespace {

using Replies = QList<ScriptedReply>;
using States = QList<ShareState>;

const QString sharedLink = QStringLiteral("https://files.example/s/Ab3");
const QString anyText = QStringLiteral("<any>");

QByteArray uploadReply(const QString &url)
{
    return QStringLiteral(R"({"Success":true,"Data":{"Url":"%1","ShortCode":"Ab3","FileName":"notes.txt",)"
                          R"("FileSize":5,"IsDuplicate":false}})")
        .arg(url)
        .toUtf8();
}

QByteArray checkReply(bool exists, const QString &url)
{
    if (url.isEmpty())
        return QStringLiteral(R"({"success":true,"data":{"exists":%1}})")
            .arg(exists ? QStringLiteral("true") : QStringLiteral("false"))
            .toUtf8();
    return QStringLiteral(R"({"success":true,"data":{"exists":%1,"url":"%2"}})")
        .arg(exists ? QStringLiteral("true") : QStringLiteral("false"), url)
        .toUtf8();
}

QString hexDigest(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

// Every state the model passes through during one run.
States runRecordingStates(ShareViewModel &model, const QUrl &file)
{
    States states;
    QObject::connect(&model, &ShareViewModel::stateChanged, &model,
                     [&states](const ShareState &state) { states << state; });
    blockingWait(model.uploadFile(file));
    return states;
}

// anyText stands for an error message the platform words.
bool sameStates(const States &actual, const States &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (actual[i].kind() != expected[i].kind())
            return false;
        if (expected[i].text() == anyText ? actual[i].text().isEmpty()
                                          : actual[i].text() != expected[i].text())
            return false;
    }
    return true;
}

QString describe(const States &states)
{
    QStringList parts;
    for (const ShareState &state : states)
        parts << QString::number(int(state.kind())) + QLatin1Char(':') + state.text();
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class ShareViewModelTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_file;
    const QByteArray m_content = "hello";

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // Before anything asks where the data folder is.
        qputenv("XDG_DATA_HOME", m_root.filePath(QStringLiteral("data")).toLocal8Bit());
        qunsetenv("SENDOVA_SERVER");
        QVERIFY(ConfigService::shared().configURL().startsWith(m_root.path()));
        LocalizationService::shared().setLanguage(Language::english);
        m_file = m_root.filePath(QStringLiteral("notes.txt"));
        QVERIFY(writeFile(m_file, m_content));
    }

    void init()
    {
        removeConfig();
        setKeychainKey(QStringLiteral("key-123"));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }

    void cleanupTestCase() { setKeychainKey(QString()); }

    void stateSequences_data()
    {
        QTest::addColumn<bool>("checkDuplicates");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<States>("expected");
        QTest::addColumn<QStringList>("paths");

        const QString digest = hexDigest(m_content);
        const QString check = QStringLiteral("/api/check/") + digest;
        const QString upload = QStringLiteral("/api/upload");
        const auto json = [](int status, QByteArray body) {
            return ScriptedReply::json(status, std::move(body));
        };
        const States uploaded{ShareState::loading(), ShareState::hashing(), ShareState::uploading(),
                              ShareState::success(sharedLink)};
        // The decoder's own words stay out of the window.
        const QString invalidReply = LocalizationService::shared().localized("error.invalid_response");
        const auto uploadFailed = [](const QString &message) {
            return States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(),
                          ShareState::error(message)};
        };

        QTest::newRow("check off") << false << Replies{json(200, uploadReply(sharedLink))} << uploaded
                                   << QStringList{upload};
        QTest::newRow("stored copy") << true << Replies{json(200, checkReply(true, sharedLink))}
                                     << States{ShareState::loading(), ShareState::hashing(),
                                               ShareState::success(sharedLink)}
                                     << QStringList{check};
        QTest::newRow("no stored copy")
            << true << Replies{json(200, checkReply(false, QString())), json(200, uploadReply(sharedLink))}
            << uploaded << QStringList{check, upload};
        // The check's status is not looked at either.
        QTest::newRow("check status 404")
            << true << Replies{json(404, checkReply(false, QString())), json(200, uploadReply(sharedLink))}
            << uploaded << QStringList{check, upload};
        QTest::newRow("capitalised check reply")
            << true << Replies{json(200, R"({"Success":true,"Data":{"Exists":true,"Url":"x"}})")}
            << States{ShareState::loading(), ShareState::hashing(), ShareState::error(invalidReply)}
            << QStringList{check};
        QTest::newRow("status 500 that decodes")
            << false << Replies{json(500, uploadReply(sharedLink))} << uploaded << QStringList{upload};
        QTest::newRow("success false")
            << false << Replies{json(200, R"({"Success":false})")}
            << uploadFailed(QStringLiteral("Error desconocido")) << QStringList{upload};
        QTest::newRow("server's message")
            << false << Replies{json(413, R"({"Success":false,"Error":{"Message":"Too big"}})")}
            << uploadFailed(QStringLiteral("Too big")) << QStringList{upload};
        QTest::newRow("not json") << false << Replies{json(200, "<html>Bad gateway</html>")}
                                  << uploadFailed(invalidReply) << QStringList{upload};
    }

    void stateSequences()
    {
        QFETCH(bool, checkDuplicates);
        QFETCH(Replies, replies);
        QFETCH(States, expected);
        QFETCH(QStringList, paths);

        LoopbackHttpServer server;
        for (const ScriptedReply &reply : replies)
            server.enqueue(reply);
        writeConfig(configJson(server.baseUrl(), QString(), false, checkDuplicates));

        ShareViewModel model;
        const States states = runRecordingStates(model, QUrl::fromLocalFile(m_file));
        QVERIFY2(sameStates(states, expected), qPrintable(describe(states)));
        QCOMPARE(model.fileName(), QStringLiteral("notes.txt"));

        QStringList seen;
        for (const RecordedRequest &request : server.requests())
            seen << QString::fromUtf8(request.target);
        QCOMPARE(seen, paths);
        if (model.state().kind() == ShareState::Kind::success)
            QCOMPARE(model.resultURL(), sharedLink);
    }

    void unreachableServer_data()
    {
        QTest::addColumn<QString>("serverUrl");
        QTest::addColumn<bool>("checkDuplicates");
        QTest::addColumn<States>("expected");

        // An empty server address counts as configured; the upload then has no
        // URL to go to, and a check without one is skipped.
        QTest::newRow("empty server, check on")
            << QString() << true
            << States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(),
                      ShareState::error(QStringLiteral("URL inválida"))};
    }

    void unreachableServer()
    {
        QFETCH(QString, serverUrl);
        QFETCH(bool, checkDuplicates);
        QFETCH(States, expected);

        writeConfig(configJson(serverUrl, QString(), false, checkDuplicates));
        ShareViewModel model;
        const States states = runRecordingStates(model, QUrl::fromLocalFile(m_file));
        QVERIFY2(sameStates(states, expected), qPrintable(describe(states)));
    }

    // The requests the share program makes itself; the multipart body is
    // the shared builder's and tested there.
    void requestsOnTheWire()
    {
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, checkReply(false, QString())));
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(
            configJson(server.baseUrl() + QStringLiteral("/"), QStringLiteral("ignored"), false, true));
        setKeychainKey(QStringLiteral("key-ü"));

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));

        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        const QString digest = hexDigest(m_content);
        const RecordedRequest &check = requests[0];
        QCOMPARE(check.method, QByteArray("GET"));
        // The trailing slash is kept, and the check names the bare hex digest.
        QCOMPARE(QString::fromUtf8(check.target), QStringLiteral("//api/check/") + digest);
        QCOMPARE(check.header("X-API-Key"), QStringLiteral("key-ü").toUtf8());
        QCOMPARE(check.headerCount("X-File-Hash"), 0);

        const RecordedRequest &upload = requests[1];
        QCOMPARE(upload.method, QByteArray("POST"));
        QCOMPARE(upload.target, QByteArray("//api/upload"));
        QCOMPARE(upload.header("X-API-Key"), QStringLiteral("key-ü").toUtf8());
        QCOMPARE(upload.header("X-File-Hash"), (QStringLiteral("sha256:") + digest).toLatin1());
        QCOMPARE(upload.header("X-Source-Machine"), machineName().toUtf8());
    }

    void clipboardRules_data()
    {
        QTest::addColumn<bool>("autoCopy");
        QTest::addColumn<bool>("storedCopy");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("linkCopied");

        QTest::newRow("stored copy, auto-copy off") << false << true << sharedLink << true;
        QTest::newRow("upload, auto-copy off") << false << false << QStringLiteral("before") << false;
        QTest::newRow("upload, auto-copy on") << true << false << sharedLink << true;
    }

    void clipboardRules()
    {
        QFETCH(bool, autoCopy);
        QFETCH(bool, storedCopy);
        QFETCH(QString, clipboard);
        QFETCH(bool, linkCopied);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, checkReply(storedCopy, storedCopy ? sharedLink : QString())));
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(configJson(server.baseUrl(), QString(), autoCopy, true));

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
        // What the window then says about the clipboard.
        QCOMPARE(model.linkCopied(), linkCopied);

        // The copy button puts the sharedLink there whatever happened before.
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        model.copyURL();
        QCOMPARE(QGuiApplication::clipboard()->text(), sharedLink);
        QVERIFY(model.linkCopied());
    }

    void copyWithoutLinkLeavesClipboard()
    {
        ShareViewModel model;
        model.copyURL();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void configuration_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("keychainKey");
        QTest::addColumn<QString>("sentKey"); // empty: not configured

        const QString server = QStringLiteral("SERVER");
        const QByteArray valid = configJson(server, QString(), false, false);
        QByteArray lacking = valid;
        lacking.replace("\"checkForDuplicates\" : false,", "");
        QByteArray withoutLanguage = valid;
        withoutLanguage.replace(",\n  \"languageCode\" : \"en\"", "");

        QTest::newRow("no config.json") << QByteArray() << QStringLiteral("key-1") << QString();
        QTest::newRow("config.json not JSON")
            << QByteArray("{\"serverUrl\":") << QStringLiteral("key-1") << QString();
        QTest::newRow("lacks checkForDuplicates") << lacking << QStringLiteral("key-1") << QString();
        QTest::newRow("no key anywhere") << valid << QString() << QString();
        QTest::newRow("keychain over the file")
            << configJson(server, QStringLiteral("file-key"), false, false) << QStringLiteral("key-1")
            << QStringLiteral("key-1");
        QTest::newRow("file's key without keychain item")
            << configJson(server, QStringLiteral("file-key"), false, false) << QString()
            << QStringLiteral("file-key");
        QTest::newRow("languageCode is not needed")
            << withoutLanguage << QStringLiteral("key-1") << QStringLiteral("key-1");
    }

    void configuration()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, keychainKey);
        QFETCH(QString, sentKey);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        if (!config.isEmpty())
            writeConfig(config.replace("SERVER", server.baseUrl().toUtf8()));
        setKeychainKey(keychainKey);

        ShareViewModel model;
        const States states = runRecordingStates(model, QUrl::fromLocalFile(m_file));
        if (sentKey.isEmpty()) {
            QVERIFY2(sameStates(states,
                                States{ShareState::loading(),
                                       ShareState::error(QStringLiteral(
                                           "Sendova no está configurado. Abre la app principal primero."))}),
                     qPrintable(describe(states)));
            QCOMPARE(model.fileName(), QStringLiteral("notes.txt"));
            QCOMPARE(server.requests().size(), 0);
        } else {
            QCOMPARE(model.state(), ShareState::success(sharedLink));
            QCOMPARE(server.requests().size(), 1);
            QCOMPARE(server.requests()[0].header("X-API-Key"), sentKey.toUtf8());
        }
    }

    void unreadableFile()
    {
        LoopbackHttpServer server;
        writeConfig(configJson(server.baseUrl(), QString(), false, false));
        ShareViewModel model;
        const States states =
            runRecordingStates(model, QUrl::fromLocalFile(m_root.filePath(QStringLiteral("gone"))));
        QVERIFY2(sameStates(states,
                            States{ShareState::loading(), ShareState::hashing(), ShareState::error(anyText)}),
                 qPrintable(describe(states)));
        QCOMPARE(model.fileName(), QStringLiteral("gone"));
        QCOMPARE(server.requests().size(), 0);
    }

    void emptyFile()
    {
        const QString path = m_root.filePath(QStringLiteral("empty.bin"));
        QVERIFY(writeFile(path, QByteArray()));
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(path)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));
        QCOMPARE(model.hashProgress(), 0.0);
        const RecordedRequest upload = server.requests().value(0);
        QCOMPARE(upload.header("X-File-Hash"),
                 (QStringLiteral("sha256:") + hexDigest(QByteArray())).toLatin1());
    }

    // A file whose size reads 0 but which has content: the hash fraction has
    // nothing to divide by and stays 0, and the body still carries the bytes
    // that were hashed.
    void sizeReadsZero()
    {
        const QString path = QStringLiteral("/proc/self/cmdline");
        if (QFileInfo(path).size() != 0)
            QSKIP("this kernel reports a size for /proc files");
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(path)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));
        QTRY_COMPARE(model.hashProgress(), 0.0);
        const RecordedRequest upload = server.requests().value(0);
        const QByteArray head = "Content-Type: application/octet-stream\r\n\r\n";
        const qsizetype start = upload.body.indexOf(head) + head.size();
        const qsizetype end = upload.body.lastIndexOf("\r\n--");
        const QByteArray sent = upload.body.mid(start, end - start);
        QVERIFY(!sent.isEmpty());
        QCOMPARE(upload.header("X-File-Hash"), (QStringLiteral("sha256:") + hexDigest(sent)).toLatin1());
    }

    // With a clock that moves a whole second between readings, every body
    // event after the first gives a speed; the last one leaves the bar full.
    void progressAndSpeedDuringUpload()
    {
        const QString path = m_root.filePath(QStringLiteral("large.bin"));
        QVERIFY(writeFile(path, QByteArray(8 * 1024 * 1024, 'x')));
        LoopbackHttpServer server;
        server.setKeepBodies(false);
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewModel model;
        double now = 100;
        model.setClock([&now] { return now += 1.0; });
        QList<double> progress;
        connect(&model, &ShareViewModel::changed, &model, [&] {
            if (model.state().kind() == ShareState::Kind::uploading)
                progress << model.uploadProgress();
        });
        blockingWait(model.uploadFile(QUrl::fromLocalFile(path)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));
        QTRY_COMPARE(model.uploadProgress(), 1.0);
        QVERIFY(model.uploadSpeed() > 0);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(model.hashProgress(), 1.0);
        QFile::remove(path);
    }

    void speedMeter_data()
    {
        QTest::addColumn<QList<qint64>>("sent");
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<QList<double>>("speeds"); // -1: no new speed

        QTest::newRow("under half a second")
            << QList<qint64>{1000} << QList<double>{10.4} << QList<double>{-1};
        QTest::newRow("exactly half a second")
            << QList<qint64>{1000} << QList<double>{10.5} << QList<double>{2000};
        QTest::newRow("window restarts after a reading")
            << QList<qint64>{500, 3000, 3500, 6000} << QList<double>{10.25, 11.0, 11.25, 12.0}
            << QList<double>{-1, 3000, -1, 3000};
        QTest::newRow("counts from the last reading, not the last event")
            << QList<qint64>{100, 200, 1200} << QList<double>{10.1, 10.2, 10.5}
            << QList<double>{-1, -1, 2400};
    }

    void speedMeter()
    {
        QFETCH(QList<qint64>, sent);
        QFETCH(QList<double>, times);
        QFETCH(QList<double>, speeds);

        ShareSpeedMeter meter;
        meter.start(10.0);
        for (qsizetype i = 0; i < sent.size(); ++i) {
            const std::optional<double> speed = meter.update(sent[i], times[i]);
            QCOMPARE(speed.value_or(-1), speeds[i]);
        }
    }

    void formatSpeed_data()
    {
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("text");

        QTest::newRow("999") << 999.0 << QStringLiteral("999 B/s");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1 KB/s");
        QTest::newRow("999999") << 999'999.0 << QStringLiteral("1000 KB/s");
        QTest::newRow("1000000") << 1'000'000.0 << QStringLiteral("1.0 MB/s");
        QTest::newRow("123456789") << 123'456'789.0 << QStringLiteral("123.5 MB/s");
    }

    void formatSpeed()
    {
        QFETCH(double, speed);
        QFETCH(QString, text);
        QCOMPARE(ShareViewModel::formatSpeed(speed), text);
    }
};

QTEST_MAIN(ShareViewModelTest)
#include "ShareViewModelTest.moc"
