// Uploads one file through UploadService and prints the time and the peak
// resident memory of this process.
#include "BlockingWait.h"
#include "upload/UploadService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

#include <cstdio>

namespace {

QByteArray peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed();
    }
    return "?";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE SERVER_URL\n", argv[0]);
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    sendova::UploadService service([](qint64, qint64) {});
    const sendova::UploadResult result = sendova::test::blockingWait(
        service.upload(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])), QString::fromLocal8Bit(argv[2]),
                       QStringLiteral("bench-key"), std::nullopt));
    std::printf("success=%d %.3f s peak RSS %s\n", result.success ? 1 : 0, double(timer.nsecsElapsed()) / 1e9,
                peakResidentKiB().constData());
    return result.success ? 0 : 1;
}
