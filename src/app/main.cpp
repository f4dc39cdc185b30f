#include "app/CommandLineClient.h"
#include "config/ConfigService.h"
#include "support/LocalizationService.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <QCoroTask>

#include <csignal>
#include <iostream>
#include <unistd.h>

using namespace sendova;

namespace {

int interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(interruptPipe[1], &byte, 1);
}

QCoro::Task<> runAndQuit(CommandLineClient &client, QStringList arguments)
{
    auto pending = client.run(std::move(arguments));
    const int code = co_await std::move(pending);
    // Queued: a command that needs no waiting ends before the loop starts.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sendova"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENDOVA_VERSION));

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!CommandLineClient::handles(arguments)) {
        std::cerr << "sendova: the tray program is not part of this build; "
                     "see 'sendova --help' for the command-line client.\n";
        return arguments.isEmpty() ? 0 : CommandLineClient::usage;
    }

    const AppConfig config = ConfigService::shared().loadConfig();
    LocalizationService::shared().setLanguage(
        languageFromCode(config.languageCode).value_or(Language::english));

    CommandLineClient client;
    // Ctrl-C and SIGTERM reach the event loop through a pipe, so that the
    // upload is cancelled cleanly instead of the process dying mid-transfer.
    if (::pipe(interruptPipe) == 0) {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }
    QSocketNotifier interrupts(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, &client, [&client] {
        char byte;
        [[maybe_unused]] const auto got = ::read(interruptPipe[0], &byte, 1);
        client.interrupt();
    });

    QCoro::Task<> running = runAndQuit(client, std::move(arguments));
    return app.exec();
}
