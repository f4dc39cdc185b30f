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
        QTest::newRow("exists without url")
            << true << Replies{json(200, checkReply(true, QString())), json(200, uploadReply(sharedLink))}
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
        QTest::newRow("only the required members")
            << false
            << Replies{json(201, QStringLiteral(R"({"Success":true,"Data":{"Url":"%1","ShortCode":null}})")
                                     .arg(sharedLink)
                                     .toUtf8())}
            << uploaded << QStringList{upload};
        QTest::newRow("success false")
            << false << Replies{json(200, R"({"Success":false})")}
            << uploadFailed(QStringLiteral("Error desconocido")) << QStringList{upload};
        QTest::newRow("success without data")
            << false << Replies{json(200, R"({"Success":true})")}
            << uploadFailed(QStringLiteral("Error desconocido")) << QStringList{upload};
        QTest::newRow("server's message")
            << false << Replies{json(413, R"({"Success":false,"Error":{"Message":"Too big"}})")}
            << uploadFailed(QStringLiteral("Too big")) << QStringList{upload};
        QTest::newRow("error without message")
            << false << Replies{json(200, R"({"Success":false,"Error":{"Code":"E1"}})")}
            << uploadFailed(invalidReply) << QStringList{upload};
        QTest::newRow("date with fraction")
            << false
            << Replies{json(200, QStringLiteral(R"({"Success":true,"Data":{"Url":"%1","ExpiresAt":)"
                                                R"("2025-01-31T10:00:00.123Z"}})")
                                     .arg(sharedLink)
                                     .toUtf8())}
            << uploaded << QStringList{upload};
        QTest::newRow("date without fraction")
            << false
            << Replies{json(200, QStringLiteral(R"({"Success":true,"Data":{"Url":"%1","ExpiresAt":)"
                                                R"("2025-01-31T10:00:00Z"}})")
                                     .arg(sharedLink)
                                     .toUtf8())}
            << uploaded << QStringList{upload};
        QTest::newRow("date only") << false
                                   << Replies{json(200,
                                                   QStringLiteral(R"({"Success":true,"Data":{"Url":"%1",)"
                                                                  R"("ExpiresAt":"2025-01-31"}})")
                                                       .arg(sharedLink)
                                                       .toUtf8())}
                                   << uploadFailed(invalidReply) << QStringList{upload};
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

        // Port 9 (discard) is not listened on here.
        QTest::newRow("check cannot connect")
            << QStringLiteral("http://127.0.0.1:9") << true
            << States{ShareState::loading(), ShareState::hashing(), ShareState::error(anyText)};
        QTest::newRow("upload cannot connect") << QStringLiteral("http://127.0.0.1:9") << false
                                               << States{ShareState::loading(), ShareState::hashing(),
                                                         ShareState::uploading(), ShareState::error(anyText)};
        // An empty server address counts as configured; the upload then has no
        // URL to go to, and a check without one is skipped.
        QTest::newRow("empty server, check on")
            << QString() << true
            << States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(),
                      ShareState::error(QStringLiteral("URL inválida"))};
        QTest::newRow("not a URL") << QStringLiteral("files example") << false
                                   << States{ShareState::loading(), ShareState::hashing(),
                                             ShareState::uploading(),
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

    // What goes over the wire, byte for byte.
    void requestsOnTheWire_data()
    {
        QTest::addColumn<QString>("serverSuffix");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("dispositionName");
        QTest::addColumn<QString>("pathPrefix");

        QTest::newRow("plain") << QString() << QStringLiteral("notes v2.txt") << QByteArray("notes v2.txt")
                               << QStringLiteral("/api");
        QTest::newRow("non-ASCII name") << QString() << QStringLiteral("Café ñ.txt")
                                        << QStringLiteral("Café ñ.txt").toUtf8() << QStringLiteral("/api");
        QTest::newRow("quote and line breaks escaped")
            << QString() << QStringLiteral("a\"b\r\nc.txt") << QByteArray("a%22b%0D%0Ac.txt")
            << QStringLiteral("/api");
        QTest::newRow("trailing slash kept") << QStringLiteral("/") << QStringLiteral("report.txt")
                                             << QByteArray("report.txt") << QStringLiteral("//api");
    }

    void requestsOnTheWire()
    {
        QFETCH(QString, serverSuffix);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, dispositionName);
        QFETCH(QString, pathPrefix);

        const QByteArray content("first line\r\n--not a boundary--\r\n\0binary", 38);
        const QString path = m_root.filePath(fileName);
        QVERIFY(writeFile(path, content));
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, checkReply(false, QString())));
        server.enqueue(ScriptedReply::json(200, uploadReply(sharedLink)));
        writeConfig(configJson(server.baseUrl() + serverSuffix, QStringLiteral("ignored"), false, true));
        setKeychainKey(QStringLiteral("key-ü"));

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(path)));
        QCOMPARE(model.state(), ShareState::success(sharedLink));

        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        const QString digest = hexDigest(content);

        const RecordedRequest &check = requests[0];
        QCOMPARE(check.method, QByteArray("GET"));
        QCOMPARE(QString::fromUtf8(check.target), pathPrefix + QStringLiteral("/check/") + digest);
        QCOMPARE(check.headerCount("X-API-Key"), 1);
        QCOMPARE(check.header("X-API-Key"), QStringLiteral("key-ü").toUtf8());
        QCOMPARE(check.headerCount("X-File-Hash"), 0);
        QCOMPARE(check.headerCount("X-Source-Machine"), 0);

        const RecordedRequest &upload = requests[1];
        QCOMPARE(upload.method, QByteArray("POST"));
        QCOMPARE(QString::fromUtf8(upload.target), pathPrefix + QStringLiteral("/upload"));
        QCOMPARE(upload.header("X-API-Key"), QStringLiteral("key-ü").toUtf8());
        QCOMPARE(upload.header("X-File-Hash"), (QStringLiteral("sha256:") + digest).toLatin1());
        QCOMPARE(upload.header("X-Source-Machine"), machineName().toUtf8());
        const QByteArray contentType = upload.header("Content-Type").value_or(QByteArray());
        QVERIFY(contentType.startsWith("multipart/form-data; boundary="));
        const QByteArray boundary = contentType.mid(int(qstrlen("multipart/form-data; boundary=")));
        QCOMPARE(boundary.size(), 36);
        const QByteArray expectedBody =
            "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" +
            dispositionName + "\"\r\n" + "Content-Type: application/octet-stream\r\n\r\n" + content +
            "\r\n--" + boundary + "--\r\n";
        QCOMPARE(upload.body, expectedBody);
        QFile::remove(path);
    }

    void clipboardRules_data()
    {
        QTest::addColumn<bool>("autoCopy");
        QTest::addColumn<bool>("storedCopy");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("linkCopied");

        QTest::newRow("stored copy, auto-copy off") << false << true << sharedLink << true;
        QTest::newRow("stored copy, auto-copy on") << true << true << sharedLink << true;
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
        QByteArray wrongType = valid;
        wrongType.replace("\"launchAtLogin\" : false", "\"launchAtLogin\" : \"no\"");
        QByteArray withoutLanguage = valid;
        withoutLanguage.replace(",\n  \"languageCode\" : \"en\"", "");

        QTest::newRow("no config.json") << QByteArray() << QStringLiteral("key-1") << QString();
        QTest::newRow("config.json not JSON")
            << QByteArray("{\"serverUrl\":") << QStringLiteral("key-1") << QString();
        QTest::newRow("lacks checkForDuplicates") << lacking << QStringLiteral("key-1") << QString();
        QTest::newRow("member of the wrong type") << wrongType << QStringLiteral("key-1") << QString();
        QTest::newRow("no key anywhere") << valid << QString() << QString();
        QTest::newRow("key from the keychain") << valid << QStringLiteral("key-1") << QStringLiteral("key-1");
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
        QVERIFY(upload.body.endsWith("Content-Type: application/octet-stream\r\n\r\n\r\n--" +
                                     upload.header("Content-Type").value_or("").split('=').last() +
                                     "--\r\n"));
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

        QTest::newRow("0") << 0.0 << QStringLiteral("0 B/s");
        QTest::newRow("999") << 999.0 << QStringLiteral("999 B/s");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1 KB/s");
        QTest::newRow("1499") << 1499.0 << QStringLiteral("1 KB/s");
        QTest::newRow("999999") << 999'999.0 << QStringLiteral("1000 KB/s");
        QTest::newRow("1000000") << 1'000'000.0 << QStringLiteral("1.0 MB/s");
        QTest::newRow("1500000") << 1'500'000.0 << QStringLiteral("1.5 MB/s");
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
