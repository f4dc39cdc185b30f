#include "upload/UploadProgress.h"
#include "support/LocalizationService.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace sendova;

Q_DECLARE_METATYPE(sendova::UploadState)
Q_DECLARE_METATYPE(sendova::UploadProgress)

class UploadProgressTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void percentage_data();
    void percentage();
    void speedText_data();
    void speedText();
    void timeRemainingText_data();
    void timeRemainingText();
    void unitFollowsTheLanguage();
};

void UploadProgressTest::cleanup()
{
    LocalizationService::shared().setLanguage(Language::english);
}

void UploadProgressTest::percentage_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("bytesUploaded");
    QTest::addColumn<int>("expected");
    QTest::newRow("size 0") << qint64(0) << qint64(500) << 0;
    QTest::newRow("1 of 3 truncates") << qint64(3) << qint64(1) << 33;
    QTest::newRow("all") << qint64(10) << qint64(10) << 100;
    QTest::newRow("framing past the file") << qint64(100) << qint64(150) << 150;
}

void UploadProgressTest::percentage()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, bytesUploaded);
    QFETCH(int, expected);
    UploadProgress progress;
    progress.fileSize = fileSize;
    progress.bytesUploaded = bytesUploaded;
    QCOMPARE(progress.percentage(), expected);
}

void UploadProgressTest::speedText_data()
{
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0.0 << QStringLiteral("0 B/s");
    QTest::newRow("1.5 ties to even") << 1.5 << QStringLiteral("2 B/s");
    QTest::newRow("1023.9 rounds after the threshold") << 1023.9 << QStringLiteral("1024 B/s");
    QTest::newRow("1024") << 1024.0 << QStringLiteral("1.0 KB/s");
    QTest::newRow("just below 1 MiB") << 1048575.0 << QStringLiteral("1024.0 KB/s");
    QTest::newRow("1 MiB") << 1048576.0 << QStringLiteral("1.0 MB/s");
}

void UploadProgressTest::speedText()
{
    QFETCH(double, speed);
    QFETCH(QString, expected);
    UploadProgress progress;
    progress.speed = speed;
    QCOMPARE(progress.speedText(), expected);
}

void UploadProgressTest::timeRemainingText_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("bytesUploaded");
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("expected");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("no speed") << qint64(100) << qint64(0) << 0.0 << QStringLiteral("--:--");
    QTest::newRow("NaN speed") << qint64(100) << qint64(0) << nan << QStringLiteral("--:--");
    QTest::newRow("59.6 s keeps seconds") << qint64(596) << qint64(0) << 10.0 << QStringLiteral("60 s left");
    QTest::newRow("60 s") << qint64(600) << qint64(0) << 10.0 << QStringLiteral("1 min left");
    QTest::newRow("3600 s") << qint64(36000) << qint64(0) << 10.0 << QStringLiteral("1.0 h left");
    QTest::newRow("counts what is left")
        << qint64(1000) << qint64(400) << 20.0 << QStringLiteral("30 s left");
    QTest::newRow("framing past the file")
        << qint64(100) << qint64(110) << 10.0 << QStringLiteral("-1 s left");
}

void UploadProgressTest::timeRemainingText()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, bytesUploaded);
    QFETCH(double, speed);
    QFETCH(QString, expected);
    UploadProgress progress;
    progress.fileSize = fileSize;
    progress.bytesUploaded = bytesUploaded;
    progress.speed = speed;
    QCOMPARE(progress.timeRemainingText(), expected);
}

void UploadProgressTest::unitFollowsTheLanguage()
{
    UploadProgress progress;
    progress.fileSize = 300;
    progress.speed = 10.0;
    LocalizationService::shared().setLanguage(Language::spanish);
    QCOMPARE(progress.timeRemainingText(),
             QStringLiteral("30 ") + LocalizationService::shared().localized("upload.time.seconds"));
    QVERIFY(progress.timeRemainingText() != QStringLiteral("30 s left"));
}

QTEST_GUILESS_MAIN(UploadProgressTest)
#include "UploadProgressTest.moc"
