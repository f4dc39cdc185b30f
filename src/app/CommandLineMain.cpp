#include "app/CommandLineClient.h"
#include "platform/ClipboardDisplay.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlOpener.h"
#include "support/LocalizationService.h"
#include "upload/StagedFile.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include <unistd.h>

using namespace sendova;

// A command never has a QGuiApplication, and these two replace what would
// need one, so that the linker leaves out their Qt Gui versions: the
// clipboard goes through the keeper only (see ClipboardDisplay.h), and
// nobody is left to click a notification's link once the command has ended.
const ClipboardDisplay *sendova::clipboardDisplay()
{
    return nullptr;
}

bool sendova::UrlOpener::open(const QUrl &)
{
    return false;
}

// The command line's whole program, loaded by `sendova` only when a command
// runs: --version, and the tray program's start, need none of its libraries.
extern "C" __attribute__((visibility("default"))) int sendovaCommandLineMain(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sendova"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENDOVA_VERSION));

    // The command line speaks English whatever the tray is set to (see
    // CommandLineClient), so nothing is read before the command needs it:
    // the command's own model loads the settings and the key, once.
    LocalizationService::shared().setLanguage(Language::english);

    CommandLineClient client;
    TerminationSignals signals({SIGINT, SIGTERM});
    QObject::connect(&signals, &TerminationSignals::received, &client, &CommandLineClient::interrupt);
    QObject::connect(&client, &CommandLineClient::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    client.start(QCoreApplication::arguments().mid(1));
    const int code = app.exec();
    // A paste or a screenshot interrupted mid-upload leaves no copy behind.
    StagedFile::removeAll();
    if (client.wasInterrupted()) {
        // The command has stopped its work, or had none worth stopping; what
        // other threads still wind down (an aborted transfer, a notification
        // on its way) is left to the kernel rather than waited for.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
