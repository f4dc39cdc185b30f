// Hashes one file through HashService and prints the digest and the time.
#include "BlockingWait.h"
#include "upload/HashService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const QString hash = sendova::test::blockingWait(
        sendova::HashService::shared().hashFile(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]))));
    std::printf("%s %.3f s\n", hash.toUtf8().constData(), double(timer.nsecsElapsed()) / 1e9);
    return 0;
}
