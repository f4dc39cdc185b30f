#pragma once

#include "LoopbackHttpServer.h"
#include "model/AppViewModel.h"
#include "support/LocalizationService.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <memory>

namespace sendova::test {

inline QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
}

// A configured view model in a throw-away data folder, whose uploads go to a
// loopback server and whose copies go to the application's clipboard.
struct ModelFixture
{
    QTemporaryDir dir;
    std::unique_ptr<ConfigService> config;
    LoopbackHttpServer server;
    std::unique_ptr<AppViewModel> model;
    // Whether the desktop confirms a copy.
    bool copies = true;

    ModelFixture()
    {
        config = std::make_unique<ConfigService>(dir.filePath(QStringLiteral("data")));
        DesktopActions desktop;
        desktop.copyToClipboard = [this](const QString &text) {
            QGuiApplication::clipboard()->setText(text);
            return copies;
        };
        model = std::make_unique<AppViewModel>(*config, desktop);
        AppConfig settings;
        settings._serverUrl = server.baseUrl();
        settings.apiKey = QStringLiteral("key-123");
        settings.checkForDuplicates = false;
        settings.showNotifications = false;
        settings.autoCopyToClipboard = false;
        model->setConfig(settings);
        model->setShowSetup(false);
    }

    QUrl writeFile(const QString &name, const QByteArray &contents = "abc")
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write the test file");
        return QUrl::fromLocalFile(path);
    }
};

} // namespace sendova::test
