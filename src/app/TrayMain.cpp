#include "app/AppDelegate.h"
#include "config/ConfigService.h"
#include "platform/ApplicationService.h"
#include "platform/GraphicalSession.h"
#include "platform/TerminationSignals.h"
#include "upload/StagedFile.h"

#include <QApplication>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

using namespace sendova;

namespace {

// Without a graphical session, as the command line's wrong usage.
constexpr int usage = 2;

// How the desktop's D-Bus activation starts the program (see the service
// file): it sends Activate or Open right after, so nothing shows by itself.
const char serviceOption[] = "--gapplication-service";

const char usageText[] =
    "Usage: sendova-tray [FILE|sendova:LINK…]\n"
    "The Sendova status item and popover. Files given are uploaded and a sendova: link\n"
    "is opened, by this program or by the Sendova already running in the session.\n"
    "Usually started as 'sendova' or by the desktop; 'sendova help' lists the commands.\n"
    "\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n";

// Answered before the application object exists, which needs a display:
// packaging scripts and users on a text console ask these too.
std::optional<int> answerWithoutDisplay(int argc, char *argv[])
{
    if (argc != 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--version") == 0)
        std::printf("sendova-tray %s\n", SENDOVA_VERSION);
    else if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        std::fputs(usageText, stdout);
    else
        return std::nullopt;
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int runTray(int argc, char *argv[], QStringList arguments)
{
    if (!hasGraphicalSession()) {
        std::cerr << "sendova: " << noGraphicalSessionText << '\n';
        return usage;
    }
    QApplication app(argc, argv);
    // The product's name as people write it: panels show it as the status
    // item's title (Qt takes the application name for that) and window lists
    // as the program's name.
    QApplication::setApplicationName(QStringLiteral("Sendova"));
    QApplication::setApplicationVersion(QStringLiteral(SENDOVA_VERSION));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Sendova"));
    QGuiApplication::setDesktopFileName(QLatin1String(ApplicationService::applicationId));
    // The popover comes and goes; only quitting, or closing the window that
    // stands in for a missing tray, ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    arguments.removeAll(QLatin1String(serviceOption));
    const QStringList uris = ApplicationService::urisFromArguments(arguments, QDir::currentPath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    ApplicationService service(bus);
    if (bus.isConnected() && !service.registerInstance()) {
        // Another Sendova runs in this session: it takes over.
        const QString error = ApplicationService::forward(bus, uris);
        if (error.isEmpty())
            return 0;
        std::cerr << "sendova: the running Sendova did not answer: " << qPrintable(error) << '\n';
        return 1;
    }

    AppDelegate delegate(ConfigService::shared(), bus);
    delegate.serve(&service);
    TerminationSignals signals({SIGINT, SIGTERM});
    QObject::connect(&signals, &TerminationSignals::received, &app, [](int signalNumber) {
        AppDelegate::quit(TerminationSignals::exitCodeFor(signalNumber));
    });
    delegate.start();
    if (!uris.isEmpty())
        delegate.open(uris);
    const int code = app.exec();
    // An upload still running when the program ends never finishes, and
    // would leave its private copy of a paste or a screenshot behind.
    StagedFile::removeAll();
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> answered = answerWithoutDisplay(argc, argv))
        return *answered;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return runTray(argc, argv, std::move(arguments));
}
