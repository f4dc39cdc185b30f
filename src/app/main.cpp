#include "app/CommandLineClient.h"
#include "platform/TerminationSignals.h"
#include "support/LocalizationService.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <iostream>

#include <unistd.h>

using namespace sendova;

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

    // The command line speaks English whatever the tray is set to (see
    // CommandLineClient), so nothing is read before the command needs it.
    LocalizationService::shared().setLanguage(Language::english);

    CommandLineClient client;
    TerminationSignals signals({SIGINT, SIGTERM});
    QObject::connect(&signals, &TerminationSignals::received, &client, &CommandLineClient::interrupt);
    QObject::connect(&client, &CommandLineClient::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    client.start(std::move(arguments));
    const int code = app.exec();
    if (client.wasInterrupted()) {
        // Work still running on other threads (a hash, a transfer) is left to
        // the kernel rather than waited for: nothing of it needs saving, since
        // every save ends before the loop can stop.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
