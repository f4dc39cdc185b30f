// Runs a setup link's exchange in a process of its own, so that a test can
// give it a session bus without any keyring.
//
//   setup_probe FOLDER TOKEN SERVER
//   prints the outcome: "<title>|<message>"

#include "config/ConfigService.h"
#include "model/AppViewModel.h"
#include "model/SetupModel.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace sendova;

namespace {

QCoro::Task<> run(QStringList args)
{
    ConfigService configService(args.value(0));
    AppViewModel app(configService);
    SetupModel setup(app);
    auto pending = setup.performSetup(args.value(1), args.value(2));
    const SetupOutcome outcome = co_await std::move(pending);
    QTextStream(stdout) << outcome.title << '|' << outcome.message << Qt::endl;
    // Queued: the exchange may end before the event loop has started.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoro::Task<> running = run(app.arguments().mid(1));
    return app.exec();
}
