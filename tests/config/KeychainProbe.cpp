// Runs one keychain or configuration operation in a process of its own, so a
// test can give it a different session bus than its own (QtKeychain picks its
// backend once per process) and can bound how long it may take.
//
//   keychain_probe load                      prints "none" or "key:<key>"
//   keychain_probe store KEY                 prints "stored" or "error:<description>"
//   keychain_probe exists                    prints "yes" or "no" (a Secret Service)
//   keychain_probe outlive FOLDER KEY1 KEY2  saves KEY1 with the configuration, prints "saved",
//                                            waits for a line on standard input, then saves KEY2;
//                                            prints "saved" or "error:<description>"

#include "config/ConfigService.h"
#include "config/KeychainService.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace sendova;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    const QString command = args.value(0);
    KeychainService &keychain = KeychainService::shared();
    try {
        if (command == QLatin1String("load")) {
            const std::optional<QString> key = keychain.loadAPIKey();
            out << (key ? QLatin1String("key:") + *key : QStringLiteral("none")) << Qt::endl;
        } else if (command == QLatin1String("store")) {
            keychain.saveAPIKey(args.value(1));
            out << "stored" << Qt::endl;
        } else if (command == QLatin1String("exists")) {
            out << (KeychainService::secretServiceExists() ? "yes" : "no") << Qt::endl;
        } else if (command == QLatin1String("outlive")) {
            AppConfig config;
            config.apiKey = args.value(2);
            ConfigService(args.value(1)).saveConfig(config, KeyStorage::keychain);
            out << "saved" << Qt::endl;
            QTextStream(stdin).readLine();
            config.apiKey = args.value(3);
            ConfigService(args.value(1)).saveConfig(config, KeyStorage::keychain);
            out << "saved" << Qt::endl;
        } else {
            return 2;
        }
    } catch (const Error &error) {
        out << "error:" << error.description() << Qt::endl;
    }
    return 0;
}
