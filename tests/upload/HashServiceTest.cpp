#include "upload/HashService.h"
#include "BlockingWait.h"
#include "net/FileError.h"
#include "upload/UploadTask.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <mutex>

using namespace sendova;
using namespace sendova::test;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// The reference digest, from a different implementation than ours.
QString opensslDigest(const QString &path)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-r"), path});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        qFatal("openssl dgst failed");
    return QStringLiteral("sha256:") +
           QString::fromLatin1(openssl.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0);
}

} // namespace

class HashServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void digestAndProgress_data()
    {
        QTest::addColumn<qint64>("size"); // -1: a kernel file, whose size reads 0
        QTest::addColumn<QList<double>>("fractions");

        QTest::newRow("empty") << qint64(0) << QList<double>{};
        QTest::newRow("1 MiB") << MiB << QList<double>{1.0};
        QTest::newRow("1 MiB + 1") << MiB + 1 << QList<double>{double(MiB) / double(MiB + 1), 1.0};
        QTest::newRow("size reads 0") << qint64(-1) << QList<double>{0.0};
    }

    void digestAndProgress()
    {
        QFETCH(qint64, size);
        QFETCH(QList<double>, fractions);

        QTemporaryDir dir;
        QString path = QStringLiteral("/proc/version");
        if (size >= 0) {
            path = dir.filePath(QStringLiteral("data.bin"));
            QFile file(path);
            QByteArray contents(size, Qt::Uninitialized);
            for (qint64 i = 0; i < size; ++i)
                contents[i] = char((i * 31 + i / 997) & 0xff);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == size);
        }

        std::mutex lock;
        QList<double> seen;
        bool offTheCallingThread = true;
        const Qt::HANDLE caller = QThread::currentThreadId();
        const QString hash =
            blockingWait(HashService::shared().hashFile(QUrl::fromLocalFile(path), [&](double fraction) {
                std::lock_guard guard(lock);
                seen << fraction;
                offTheCallingThread = offTheCallingThread && QThread::currentThreadId() != caller;
            }));
        QCOMPARE(hash, opensslDigest(path));
        // Exact: the fractions are computed from whole chunk counts.
        QCOMPARE(seen, fractions);
        QVERIFY(offTheCallingThread);
    }

    void missingFileFailsWithoutProgress()
    {
        QTemporaryDir dir;
        int reports = 0;
        QVERIFY_THROWS_EXCEPTION(FileError,
                                 blockingWait(HashService::shared().hashFile(
                                     QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.bin"))),
                                     [&](double) { ++reports; })));
        QCOMPARE(reports, 0);
    }

    // A cancelled upload of a huge file must not keep the CPU busy, nor hold
    // up the next file's hash, nor the hashes asked for at the same time.
    void stopsAtTheNextChunkWhenAsked()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(64 * MiB));
        file.close();

        std::atomic<int> reports{0};
        auto stopped = HashService::shared().hashFile(
            QUrl::fromLocalFile(path), [&](double) { ++reports; }, [&] { return reports >= 2; });
        auto next = HashService::shared().hashFile(QUrl::fromLocalFile(path), {}, [] { return false; });
        QVERIFY_THROWS_EXCEPTION(CancellationError, blockingWait(std::move(stopped)));
        QCOMPARE(reports.load(), 2);
        QCOMPARE(blockingWait(std::move(next)), opensslDigest(path));
    }
};

QTEST_GUILESS_MAIN(HashServiceTest)
#include "HashServiceTest.moc"
