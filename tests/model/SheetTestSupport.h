#pragma once

#include "LoopbackHttpServer.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "model/AppViewModel.h"
#include "support/LocalizationService.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace sendova::test {

// A view model on a private data folder (and a private place for the login's
// autostart entry) and the session's real keyring, with a loopback server to
// talk to.
struct SheetFixture
{
    QTemporaryDir root;
    std::unique_ptr<LoopbackHttpServer> server = std::make_unique<LoopbackHttpServer>();
    std::unique_ptr<ConfigService> configService;
    std::unique_ptr<AppViewModel> app;

    SheetFixture()
    {
        qunsetenv(AppConfig::serverOverrideVariable);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
        LocalizationService::shared().setLanguage(Language::english);
        KeychainService::shared().deleteAPIKey();
        configService = std::make_unique<ConfigService>(folder());
        app = std::make_unique<AppViewModel>(*configService);
    }
    ~SheetFixture()
    {
        qunsetenv(AppConfig::serverOverrideVariable);
        KeychainService::shared().deleteAPIKey();
    }

    QString folder() const { return root.filePath(QStringLiteral("Sendova")); }

    // A saved account: the server and key a failure must leave in place.
    void storeAccount(const QString &server, const QString &key)
    {
        AppConfig config = app->config();
        config._serverUrl = server;
        config.apiKey = key;
        app->setConfig(config);
        app->saveConfig();
    }

    // What a fresh start of the program would find on disk.
    AppConfig stored() const { return ConfigService(folder()).loadConfig(); }
};

inline QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
}

} // namespace sendova::test
