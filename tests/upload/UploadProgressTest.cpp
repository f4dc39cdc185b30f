#include "upload/UploadProgress.h"

#include <QTest>

using namespace sendova;

class UploadProgressTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row sits on a unit's threshold for the speed, the time left or both.
    void texts_data()
    {
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<qint64>("bytesUploaded");
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("texts"); // percentage, speed, time left
        const qint64 MiB = 1024 * 1024;

        QTest::newRow("no speed") << qint64(0) << qint64(500) << 0.0 << QStringLiteral("0% | 0 B/s | --:--");
        QTest::newRow("59.6 s keeps seconds")
            << qint64(596) << qint64(0) << 10.0 << QStringLiteral("0% | 10 B/s | 60 s left");
        QTest::newRow("1023.9 B/s rounds after the threshold")
            << qint64(0) << qint64(0) << 1023.9 << QStringLiteral("0% | 1024 B/s | 0 s left");
        QTest::newRow("1 MiB/s, counts what is left, percent truncates")
            << 30 * MiB << 10 * MiB << double(MiB) << QStringLiteral("33% | 1.0 MB/s | 20 s left");
        QTest::newRow("10 KiB/s, 89 s is one minute")
            << qint64(10240 * 89) << qint64(0) << 10240.0 << QStringLiteral("0% | 10.0 KB/s | 1 min left");
        QTest::newRow("5400 s is 1.5 hours")
            << qint64(5400) << qint64(0) << 1.0 << QStringLiteral("0% | 1 B/s | 1.5 h left");
    }

    void texts()
    {
        QFETCH(qint64, fileSize);
        QFETCH(qint64, bytesUploaded);
        QFETCH(double, speed);
        QFETCH(QString, texts);
        UploadProgress progress;
        progress.fileSize = fileSize;
        progress.bytesUploaded = bytesUploaded;
        progress.speed = speed;
        QCOMPARE(QStringLiteral("%1% | %2 | %3")
                     .arg(progress.percentage())
                     .arg(progress.speedText(), progress.timeRemainingText()),
                 texts);
    }
};

QTEST_GUILESS_MAIN(UploadProgressTest)
#include "UploadProgressTest.moc"
