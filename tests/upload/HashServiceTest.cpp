#include "upload/HashService.h"
#include "BlockingWait.h"
#include "net/FileError.h"
#include "upload/UploadTask.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <mutex>
#include <vector>

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

struct Reports
{
    std::mutex lock;
    QList<double> fractions;
    bool allOffTheCallingThread = true;
};

} // namespace

class HashServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void digestAndProgress_data();
    void digestAndProgress();
    void sizeReadingZeroReportsZero();
    void missingFileFailsWithoutProgress();
    void requestsMadeTogetherAllFinish();
    void stopsAtTheNextChunkWhenAsked();
};

void HashServiceTest::digestAndProgress_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<double>>("fractions");

    QTest::newRow("empty") << qint64(0) << QList<double>{};
    QTest::newRow("1 MiB") << MiB << QList<double>{1.0};
    QTest::newRow("1 MiB + 1") << MiB + 1 << QList<double>{double(MiB) / double(MiB + 1), 1.0};
    QTest::newRow("3 MiB + 5") << 3 * MiB + 5
                               << QList<double>{double(MiB) / double(3 * MiB + 5),
                                                double(2 * MiB) / double(3 * MiB + 5),
                                                double(3 * MiB) / double(3 * MiB + 5), 1.0};
}

void HashServiceTest::digestAndProgress()
{
    QFETCH(qint64, size);
    QFETCH(QList<double>, fractions);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray contents(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            contents[i] = char((i * 31 + i / 997) & 0xff);
        QCOMPARE(file.write(contents), size);
    }

    Reports reports;
    const Qt::HANDLE caller = QThread::currentThreadId();
    const QString hash =
        blockingWait(HashService::shared().hashFile(QUrl::fromLocalFile(path), [&](double fraction) {
            std::lock_guard guard(reports.lock);
            reports.fractions << fraction;
            if (QThread::currentThreadId() == caller)
                reports.allOffTheCallingThread = false;
        }));

    QCOMPARE(hash, opensslDigest(path));
    QCOMPARE(hash.size(), 71);
    QVERIFY(QRegularExpression(QStringLiteral("^sha256:[0-9a-f]{64}$")).match(hash).hasMatch());
    // Exact: the fractions are computed from whole chunk counts.
    QCOMPARE(reports.fractions, fractions);
    QVERIFY(reports.allOffTheCallingThread);
}

void HashServiceTest::sizeReadingZeroReportsZero()
{
    // Kernel files report a size of 0 and still have contents.
    const QString path = QStringLiteral("/proc/version");
    QList<double> fractions;
    const QString hash = blockingWait(HashService::shared().hashFile(
        QUrl::fromLocalFile(path), [&](double fraction) { fractions << fraction; }));
    QCOMPARE(hash, opensslDigest(path));
    QCOMPARE(fractions, QList<double>{0.0});
}

void HashServiceTest::missingFileFailsWithoutProgress()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.bin"));
    int reports = 0;
    std::optional<FileError> failure;
    try {
        blockingWait(HashService::shared().hashFile(QUrl::fromLocalFile(path), [&](double) { ++reports; }));
    } catch (const FileError &error) {
        failure = error;
    }
    QVERIFY(failure);
    QCOMPARE(failure->path(), path);
    QCOMPARE(failure->reason(), QString::fromLocal8Bit(std::strerror(ENOENT)));
    QCOMPARE(reports, 0);
}

void HashServiceTest::requestsMadeTogetherAllFinish()
{
    QTemporaryDir dir;
    QList<QString> paths;
    for (int i = 0; i < 3; ++i) {
        paths << dir.filePath(QStringLiteral("f%1").arg(i));
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(MiB + i, char('a' + i)));
    }
    std::vector<QCoro::Task<QString>> tasks;
    for (const QString &path : paths)
        tasks.push_back(HashService::shared().hashFile(QUrl::fromLocalFile(path)));
    for (qsizetype i = 0; i < paths.size(); ++i)
        QCOMPARE(blockingWait(std::move(tasks[size_t(i)])), opensslDigest(paths[i]));
}

// A cancelled upload of a huge file must not keep the CPU busy, nor hold up
// the next file's hash.
void HashServiceTest::stopsAtTheNextChunkWhenAsked()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(64 * MiB));
    file.close();

    std::atomic<int> reports{0};
    bool stopped = false;
    try {
        blockingWait(HashService::shared().hashFile(
            QUrl::fromLocalFile(path), [&](double) { ++reports; }, [&] { return reports >= 2; }));
    } catch (const CancellationError &) {
        stopped = true;
    }
    QVERIFY(stopped);
    QCOMPARE(reports.load(), 2);
    QVERIFY(blockingWait(HashService::shared().hashFile(QUrl::fromLocalFile(path), {}, [] {
                return false;
            })).startsWith(QLatin1String("sha256:")));
}

QTEST_GUILESS_MAIN(HashServiceTest)
#include "HashServiceTest.moc"
