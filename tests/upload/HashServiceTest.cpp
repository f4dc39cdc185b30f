#include "upload/HashService.h"
#include "BlockingWait.h"
#include "upload/UploadTask.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>

using namespace sendova;
using namespace sendova::test;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// The whole file's digest in one piece, which the chunks must add up to.
QString referenceDigest(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QStringLiteral("sha256:") +
           QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
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

        QTest::newRow("1 MiB + 1") << MiB + 1 << QList<double>{double(MiB) / double(MiB + 1), 1.0};
        QTest::newRow("size reads 0") << qint64(-1) << QList<double>{0.0};
    }

    void digestAndProgress()
    {
        QFETCH(qint64, size);
        QFETCH(QList<double>, fractions);

        QTemporaryDir dir;
        const QString path =
            size == -1 ? QStringLiteral("/proc/version") : dir.filePath(QStringLiteral("data.bin"));
        if (size > 0) {
            QFile file(path);
            QByteArray contents(size, Qt::Uninitialized);
            for (qint64 i = 0; i < size; ++i)
                contents[i] = char((i * 31 + i / 997) & 0xff);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == size);
        }

        std::mutex lock;
        QList<double> seen;
        const QString hash =
            blockingWait(HashService::shared().hashFile(QUrl::fromLocalFile(path), [&](double fraction) {
                std::lock_guard guard(lock);
                seen << fraction;
            }));
        QCOMPARE(hash, referenceDigest(path));
        // Exact: the fractions are computed from whole chunk counts.
        QCOMPARE(seen, fractions);
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
        QCOMPARE(blockingWait(std::move(next)), referenceDigest(path));
    }
};

QTEST_GUILESS_MAIN(HashServiceTest)
#include "HashServiceTest.moc"
