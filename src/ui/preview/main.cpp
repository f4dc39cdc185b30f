// sendova-popover: the popover's views in a window of their own.
//
//   sendova-popover                    the views on this user's settings: a
//                                      working uploader without the tray
//   sendova-popover --screenshots DIR  every state of every view as PNG
//                                      files in DIR, then exit

#include "model/AppViewModel.h"
#include "model/SettingsModel.h"
#include "platform/Clipboard.h"
#include "support/LocalizationService.h"
#include "ui/DropZoneView.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/QrCodeView.h"
#include "ui/RecentUploadRow.h"
#include "ui/ResultView.h"
#include "ui/SettingsView.h"
#include "ui/SetupView.h"
#include "widgets/LoadingOverlay.h"
#include "widgets/SecureField.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDragEnterEvent>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace sendova;

namespace {

// Breeze Dark, the dark scheme KDE ships: what a Linux user with a dark
// desktop sees. The shades between (light, mid, dark) follow from the
// button colour as Qt derives them.
QPalette darkPalette()
{
    QPalette palette(QColor(49, 54, 59), QColor(32, 35, 38));
    const QColor text(252, 252, 252);
    const QColor inactiveText(161, 169, 177);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(20, 22, 24));
    palette.setColor(QPalette::AlternateBase, QColor(29, 31, 34));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(61, 174, 233));
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::ToolTipBase, QColor(49, 54, 59));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, inactiveText);
    palette.setColor(QPalette::Link, QColor(29, 153, 243));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, QColor(110, 113, 117));
    return palette;
}

// The light one: the Fusion style's own, as Qt shows it on a desktop that
// sets no palette.
QPalette lightPalette()
{
    return QApplication::style()->standardPalette();
}

// A server on the loopback that answers every request with one status and
// body: what the sheets' tests of the connection and the login meet here.
class Responder : public QTcpServer
{
public:
    Responder()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_received[socket] += socket->readAll();
                    if (!m_received[socket].contains("\r\n\r\n"))
                        return;
                    m_received.remove(socket);
                    socket->write("HTTP/1.1 " + QByteArray::number(status) +
                                  " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

    int status = 200;
    QByteArray body = "{}";

private:
    QHash<QTcpSocket *, QByteArray> m_received;
};

class Shooter
{
public:
    explicit Shooter(QString folder) : m_folder(std::move(folder)) {}

    int run()
    {
        QTemporaryDir data;
        ConfigService config(data.path());
        AppViewModel model(config);

        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QList<RecentUpload> recents{
            RecentUpload::make(u"holiday-photos.zip"_qs, 48'200'000, u"https://sendova.app/f/Xa7Lq"_qs,
                               now.addSecs(-2 * 60), now.addDays(7)),
            RecentUpload::make(u"Quarterly report — final version (approved by finance).pdf"_qs, 1'250'000,
                               u"https://sendova.app/f/k2Pw9"_qs, now.addSecs(-3 * 3600), now.addDays(6)),
            RecentUpload::make(u"notes.txt"_qs, 2'400, u"https://sendova.app/f/M4ncR"_qs, now.addDays(-2),
                               now.addDays(5)),
        };
        const QString name = u"holiday-photos.zip"_qs;
        const qint64 size = 48'200'000;
        const UploadProgress idle;
        const UploadProgress hashing{UploadState::hashing(0.426), name, size, 0, 0};
        const UploadProgress checking{UploadState::checkingDuplicate(), name, size, 0, 0};
        const UploadProgress uploading{UploadState::uploading(), name, size, 20'100'000, 3'250'000};
        const UploadProgress completed{UploadState::completed(u"https://sendova.app/f/Xa7Lq"_qs, false), name,
                                       size, size, 0};
        const UploadProgress duplicate{UploadState::completed(u"https://sendova.app/f/Xa7Lq"_qs, true), name,
                                       size, 0, 0};
        const UploadProgress failed{
            UploadState::failed(localizedFormat("error.network_error",
                                                localizedFormat("error.net.refused", u"sendova.app"_qs))),
            name, size, 0, 0};

        struct Shot
        {
            const char *file;
            UploadProgress progress;
            bool withRecents;
            Language language = Language::english;
            bool dark = false;
        };
        const QList<Shot> shots{
            {"idle-empty", idle, false},
            {"idle-recents", idle, true},
            {"hashing", hashing, true},
            {"checking", checking, true},
            {"uploading", uploading, true},
            {"completed", completed, true},
            {"duplicate", duplicate, true},
            {"failed", failed, true},
            {"idle-recents-es", idle, true, Language::spanish},
            {"idle-recents-pt", idle, true, Language::portuguese},
            {"uploading-es", uploading, true, Language::spanish},
            {"completed-pt", completed, true, Language::portuguese},
            {"idle-recents-dark", idle, true, Language::english, true},
            {"completed-dark", completed, true, Language::english, true},
            {"failed-dark", failed, true, Language::english, true},
        };
        for (const Shot &shot : shots) {
            setLook(shot.language, shot.dark);
            model.setRecentUploads(shot.withRecents ? recents : QList<RecentUpload>());
            model.setUploadProgress(shot.progress);
            MenuBarWindow window(&model);
            window.show();
            settle();
            save(window, shot.file);
        }

        // The moments in between: a file over the zone, a row under the
        // pointer, a link just copied, the QR code.
        setLook(Language::english, false);
        model.setRecentUploads(recents);
        model.setUploadProgress(idle);
        {
            MenuBarWindow window(&model);
            window.show();
            settle();
            QMimeData files;
            files.setUrls({QUrl::fromLocalFile(u"/tmp/holiday-photos.zip"_qs)});
            QDragEnterEvent enter(QPoint(100, 70), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.view()->dropZone(), &enter);
            QWidget *row = window.view()->recentRows().value(1);
            QEnterEvent hover(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
            QApplication::sendEvent(row, &hover);
            QTest::qWait(DropZoneView::targetingMs + 100);
            save(window, "idle-targeted-hover");
        }
        model.setUploadProgress(completed);
        {
            MenuBarWindow window(&model);
            window.show();
            settle();
            window.view()->resultView()->copy();
            settle();
            save(window, "completed-copied");
            window.view()->resultView()->showQrCode();
            settle();
            save(*window.view()->resultView()->qrPopup(), "qr-code");
        }
        shootSheets(model);
        return m_failures == 0 ? 0 : 1;
    }

private:
    // Waits for a sheet's request to end, whatever it ends in.
    template<typename Done>
    static void await(Done done)
    {
        for (int i = 0; i < 500 && !done(); ++i)
            QTest::qWait(10);
        settle();
    }

    void shootSheets(AppViewModel &model)
    {
        Responder responder;
        const QString ownServer = u"https://files.example.com"_qs;
        const QString publicServer = QString::fromLatin1(AppConfig::defaultServerUrl);
        const auto configure = [&](const QString &server, const QString &key, Language language) {
            AppConfig config;
            config._serverUrl = server;
            config.apiKey = key;
            config.languageCode = languageCode(language);
            config.launchAtLogin = true;
            model.setConfig(config);
        };
        model.setUploadProgress(UploadProgress{});

        struct SettingsShot
        {
            const char *file;
            // The server row shows for a server of one's own.
            bool ownServer;
            // The test's answer: 0 for none, -1 for a connection refused.
            int status;
            Language language = Language::english;
            bool dark = false;
            bool scrolled = false;
        };
        const QList<SettingsShot> settingsShots{
            {"settings", false, 0},
            {"settings-server-connected", true, 200},
            {"settings-failed", false, -1},
            {"settings-bottom", false, 0, Language::english, false, true},
            {"settings-dark", true, 401, Language::english, true},
            {"settings-pt", true, 200, Language::portuguese},
        };
        for (const SettingsShot &shot : settingsShots) {
            setLook(shot.language, shot.dark);
            configure(shot.ownServer ? responder.url() : publicServer, u"sk_live_5f2c9a7e41b8d03c"_qs,
                      shot.language);
            SettingsView sheet(&model);
            sheet.present();
            settle();
            if (shot.status != 0) {
                responder.status = shot.status;
                if (shot.status < 0) {
                    // A port nobody listens on.
                    AppConfig config = model.config();
                    config._serverUrl = u"http://127.0.0.1:9"_qs;
                    model.setConfig(config);
                }
                sheet.testButton()->click();
                await([&] { return !sheet.model()->testingConnection(); });
            }
            // What the user sees: their own server's name, not the stand-in's.
            AppConfig config = model.config();
            config._serverUrl = shot.ownServer ? ownServer : publicServer;
            model.setConfig(config);
            if (shot.scrolled) {
                QScrollBar *bar = sheet.findChild<QScrollArea *>()->verticalScrollBar();
                bar->setValue(bar->maximum());
            }
            settle();
            save(sheet, shot.file);
        }

        struct SetupShot
        {
            const char *file;
            SetupMode mode;
            bool ownServer;
            // Filled in, and for an error the login sent and refused.
            bool filled = false;
            bool refused = false;
            bool loading = false;
            Language language = Language::english;
            bool dark = false;
        };
        const QList<SetupShot> setupShots{
            {"setup-login", SetupMode::login, false},
            {"setup-api-key", SetupMode::apiKey, false},
            {"setup-login-server", SetupMode::login, true, true},
            {"setup-api-key-server", SetupMode::apiKey, true, true},
            {"setup-error", SetupMode::login, true, true, true},
            {"setup-loading", SetupMode::login, false, true, false, true},
            {"setup-error-es", SetupMode::apiKey, false, true, true, false, Language::spanish},
            {"setup-dark", SetupMode::login, false, true, false, false, Language::english, true},
        };
        for (const SetupShot &shot : setupShots) {
            setLook(shot.language, shot.dark);
            configure(shot.ownServer ? responder.url() : publicServer, QString(), shot.language);
            SetupView sheet(&model);
            sheet.present();
            // No keyring to ask here.
            sheet.model()->setKeyStorage(KeyStorage::configFile);
            sheet.model()->setSetupMode(shot.mode);
            if (shot.filled) {
                sheet.model()->setUsername(u"ana@example.com"_qs);
                sheet.model()->setPassword(u"correct horse"_qs);
                sheet.model()->setApiKey(u"sk_live_5f2c9a7e41b8d03c"_qs);
            }
            if (shot.refused) {
                responder.status = 401;
                responder.body = R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"no"}})";
                if (!shot.ownServer)
                    sheet.model()->setServerUrl(responder.url());
                sheet.primaryButton()->click();
                await([&] { return !sheet.model()->isLoading(); });
            }
            if (shot.ownServer)
                sheet.model()->setServerUrl(ownServer);
            else
                sheet.model()->setServerUrl(publicServer);
            if (shot.loading) {
                // As during a request: the overlay up, the button off.
                sheet.overlay()->setActive(true);
                sheet.primaryButton()->setEnabled(false);
            }
            settle();
            save(sheet, shot.file);
        }

        // A save that failed: the popover says so until dismissed.
        setLook(Language::english, false);
        model.setErrorMessage(
            ConfigSaveError(FileWriteError(u"/home/ana/.config/autostart/com.sendova.Sendova.desktop"_qs,
                                           u"Permission denied"_qs))
                .description());
        {
            MenuBarWindow window(&model);
            window.show();
            settle();
            save(window, "idle-save-failed");
        }
        model.setErrorMessage(std::nullopt);
    }

    void setLook(Language language, bool dark)
    {
        LocalizationService::shared().setLanguage(language);
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
    }

    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
            QTest::qWait(20);
        }
    }

    void save(QWidget &widget, const char *name)
    {
        const QString path = QDir(m_folder).filePath(QLatin1String(name) + QLatin1String(".png"));
        if (!widget.grab().save(path, "PNG", 9)) {
            std::fprintf(stderr, "sendova-popover: cannot write %s\n", qPrintable(path));
            ++m_failures;
            return;
        }
        std::printf("%s\n", qPrintable(path));
    }

    QString m_folder;
    int m_failures = 0;
};

// The key comes from the keyring without holding up the event loop; the
// window opens once it is known.
QCoro::Task<> openWindow(DesktopActions desktop)
{
    auto loading = ConfigService::shared().loadConfigAsync();
    co_await std::move(loading);
    auto *model = new AppViewModel(ConfigService::shared(), std::move(desktop), qApp);
    auto *window = new MenuBarWindow(model);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

} // namespace

int main(int argc, char **argv)
{
    // Screenshots are drawn at twice the size, for sharp pictures on
    // high-density screens; the scale is fixed before the application starts.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--screenshots") == 0 && qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
            qputenv("QT_SCALE_FACTOR", "2");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sendova-popover"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Sendova popover's views in a window of their own."));
    parser.addHelpOption();
    const QCommandLineOption screenshots(
        QStringLiteral("screenshots"),
        QStringLiteral("Render every state of every view to PNG files in <dir>."), QStringLiteral("dir"));
    parser.addOption(screenshots);
    parser.process(app);

    if (parser.isSet(screenshots)) {
        // The same look on every machine: no theme icons, the stock style.
        QIcon::setThemeSearchPaths({});
        QIcon::setFallbackSearchPaths({});
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        const QString folder = parser.value(screenshots);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "sendova-popover: cannot create %s\n", qPrintable(folder));
            return 1;
        }
        return Shooter(folder).run();
    }

    DesktopActions desktop;
    desktop.copyToClipboard = [](const QString &text) { return Clipboard::writeText(text).confirmed(); };
    QCoro::Task<> opening = openWindow(std::move(desktop));
    return app.exec();
}
