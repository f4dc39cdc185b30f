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
    // CommandLineClient), so nothing is read before the command needs it:
    // the command's own model loads the settings and the key, once.
    LocalizationService::shared().setLanguage(Language::english);

    CommandLineClient client;
    TerminationSignals signals({SIGINT, SIGTERM});
    QObject::connect(&signals, &TerminationSignals::received, &client, &CommandLineClient::interrupt);
    QObject::connect(&client, &CommandLineClient::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    client.start(std::move(arguments));
    const int code = app.exec();
    if (client.wasInterrupted()) {
        // The command has stopped its work, or had none worth stopping; what
        // other threads still wind down (an aborted transfer, a notification
        // on its way) is left to the kernel rather than waited for.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
