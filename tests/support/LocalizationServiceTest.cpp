#include "support/LocalizationService.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace sendova;

namespace {

// Every key the program looks up. A key missing here is missing from the
// program's screens, so this list is kept by hand rather than read from the
// tables under test.
const char *const requiredKeys[] = {
    "dropzone.drag_files",
    "dropzone.or_browse",
    "error.connection_failed",
    "error.invalid_credentials",
    "error.invalid_response",
    "error.invalid_url",
    "error.network_error",
    "error.server_error",
    "error.tenant_inactive",
    "error.token_invalid",
    "menu.clear",
    "menu.error",
    "menu.quit",
    "menu.recent",
    "menu.report_error",
    "menu.try_again",
    "notification.duplicate.body",
    "notification.duplicate.title",
    "notification.error.body",
    "notification.error.title",
    "notification.upload_complete.body",
    "notification.upload_complete.title",
    "result.button.copy",
    "result.button.ok",
    "result.button.open",
    "result.duplicate.title",
    "result.success.title",
    "result.url.copied",
    "result.url.label",
    "settings.api_key.label",
    "settings.button.cancel",
    "settings.button.logout",
    "settings.button.save",
    "settings.button.test_connection",
    "settings.clipboard.toggle",
    "settings.duplicates.toggle",
    "settings.language.label",
    "settings.notifications.toggle",
    "settings.section.behavior",
    "settings.section.connection",
    "settings.section.danger",
    "settings.section.language",
    "settings.server.label",
    "settings.startup.toggle",
    "settings.status.connected",
    "settings.title",
    "setup.api_key.help",
    "setup.api_key.label",
    "setup.api_key.placeholder",
    "setup.button.cancel",
    "setup.button.connect",
    "setup.button.login",
    "setup.error.connection_failed",
    "setup.mode.api_key",
    "setup.mode.login",
    "setup.password.label",
    "setup.password.placeholder",
    "setup.server.label",
    "setup.server.placeholder",
    "setup.username.label",
    "setup.username.placeholder",
    "setup.welcome.subtitle",
    "setup.welcome.title",
    "upload.button.cancel",
    "upload.status.checking",
    "upload.status.completed",
    "upload.status.error",
    "upload.status.hashing",
    "upload.status.ready",
    "upload.status.uploading",
    "upload.time.hours",
    "upload.time.minutes",
    "upload.time.seconds",
    "share.button.cancel",
    "share.button.close",
    "share.button.copy_url",
    "share.error.cancelled_by_user",
    "share.error.could_not_get_file",
    "share.error.no_files_found",
    "share.error.no_files_received",
    "share.error.title",
    "share.error.unsupported_file_type",
    "share.status.hashing",
    "share.status.loading",
    "share.status.preparing",
    "share.status.uploaded",
    "share.status.uploading",
    "share.url.copied",
    "time.relative.now",
    "time.relative.seconds",
    "time.relative.minutes",
    "time.relative.hours",
    "time.relative.day",
    "time.relative.days",
    "time.relative.weeks",
};

// The arguments each format is filled with; every translation must take
// exactly these.
const QHash<QString, int> placeholderCounts = {
    {u"error.network_error"_qs, 1},         {u"error.server_error"_qs, 1},
    {u"notification.duplicate.body"_qs, 1}, {u"notification.upload_complete.body"_qs, 1},
    {u"notification.error.body"_qs, 2},     {u"time.relative.seconds"_qs, 1},
    {u"time.relative.minutes"_qs, 1},       {u"time.relative.hours"_qs, 1},
    {u"time.relative.day"_qs, 1},           {u"time.relative.days"_qs, 1},
    {u"time.relative.weeks"_qs, 1},
};

QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(u"%(\\d+)"_qs);
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    found.sort();
    return found;
}

} // namespace

class LocalizationServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyTableHoldsEveryKey_data()
    {
        QTest::addColumn<Language>("language");
        for (Language language : allLanguages())
            QTest::newRow(qPrintable(languageCode(language))) << language;
    }

    void everyTableHoldsEveryKey()
    {
        QFETCH(Language, language);
        LocalizationService english(u":/i18n"_qs, {u"en"_qs});
        LocalizationService service(u":/i18n"_qs, {u"en"_qs});
        service.setLanguage(language);
        for (const char *key : requiredKeys) {
            const QString text = service.localized(key);
            QVERIFY2(text != QString::fromUtf8(key) && !text.trimmed().isEmpty(), key);
            QCOMPARE(placeholders(text), placeholders(english.localized(key)));
            QCOMPARE(placeholders(text).size(), placeholderCounts.value(QString::fromUtf8(key), 0));
        }
    }

    void tablesAreReallyTranslated()
    {
        LocalizationService service(u":/i18n"_qs, {u"en"_qs});
        const QString english = service.localized("settings.title");
        service.setLanguage(Language::spanish);
        const QString spanish = service.localized("settings.title");
        service.setLanguage(Language::portuguese);
        const QString portuguese = service.localized("settings.title");
        QCOMPARE(english, u"Settings"_qs);
        QVERIFY(spanish != english && portuguese != english && spanish != portuguese);
    }

    void missingKeyReturnsTheKey()
    {
        LocalizationService service(u":/i18n"_qs, {u"es"_qs});
        QCOMPARE(service.localized("settings.nonexistent"), u"settings.nonexistent"_qs);
        QCOMPARE(service.localized(""), QString());
    }

    void codes_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("expected"); // -1: no language
        QTest::newRow("en") << u"en"_qs << int(Language::english);
        QTest::newRow("es") << u"es"_qs << int(Language::spanish);
        QTest::newRow("pt") << u"pt"_qs << int(Language::portuguese);
        QTest::newRow("fr") << u"fr"_qs << -1;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("upper case") << u"ES"_qs << -1;
        QTest::newRow("region") << u"pt-BR"_qs << -1;
    }

    void codes()
    {
        QFETCH(QString, code);
        QFETCH(int, expected);
        const std::optional<Language> language = languageFromCode(code);
        QCOMPARE(language ? int(*language) : -1, expected);
        if (language)
            QCOMPARE(languageCode(*language), code);
    }

    void displayNames()
    {
        QCOMPARE(languageDisplayName(Language::english), u"English"_qs);
        QCOMPARE(languageDisplayName(Language::spanish), u"Español"_qs);
        QCOMPARE(languageDisplayName(Language::portuguese), u"Português"_qs);
    }

    // Before a language is chosen, the desktop's preference decides.
    void initialTableFollowsTheDesktop_data()
    {
        QTest::addColumn<QStringList>("preferred");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spanish desktop") << QStringList{u"es-ES"_qs, u"en"_qs} << u"Ajustes"_qs;
        QTest::newRow("first shipped wins")
            << QStringList{u"fr-FR"_qs, u"pt_BR"_qs, u"es"_qs} << u"Configurações"_qs;
        QTest::newRow("nothing shipped") << QStringList{u"de-DE"_qs} << u"Settings"_qs;
        QTest::newRow("no preference") << QStringList{} << u"Settings"_qs;
    }

    void initialTableFollowsTheDesktop()
    {
        QFETCH(QStringList, preferred);
        QFETCH(QString, expected);
        LocalizationService service(u":/i18n"_qs, preferred);
        QCOMPARE(service.currentLanguage(), Language::english);
        QCOMPARE(service.localized("settings.title"), expected);
    }

    void missingTableKeepsLanguageAndUsesDefault()
    {
        // Only the Portuguese table is installed; the desktop prefers it.
        QTemporaryDir dir;
        QVERIFY(QFile::copy(u":/i18n/sendova_pt.qm"_qs, dir.filePath(u"sendova_pt.qm"_qs)));
        LocalizationService service(dir.path(), {u"pt-BR"_qs});
        QSignalSpy changes(&service, &LocalizationService::currentLanguageChanged);

        service.setLanguage(Language::spanish);
        QCOMPARE(service.currentLanguage(), Language::spanish);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(service.localized("settings.title"), u"Configurações"_qs);

        // Setting the same language again reloads but announces nothing.
        service.setLanguage(Language::spanish);
        QCOMPARE(changes.size(), 1);
    }

    void errorTextFollowsLaterLanguageChange()
    {
        LocalizationService &service = LocalizationService::shared();
        service.setLanguage(Language::english);
        // A description is looked up when asked for, not when the error arose.
        auto describe = [] { return localizedFormat("error.server_error", 500); };
        service.setLanguage(Language::portuguese);
        QCOMPARE(describe(), u"Erro do servidor (500)"_qs);
        service.setLanguage(Language::english);
    }

    void argumentsAreNeverReExpanded_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("percent one") << u"50%1 off.pdf"_qs;
        QTest::newRow("percent two") << u"a%2b.txt"_qs;
        QTest::newRow("bare percent") << u"100% done.txt"_qs;
    }

    void argumentsAreNeverReExpanded()
    {
        QFETCH(QString, fileName);
        LocalizationService::shared().setLanguage(Language::english);
        const QString body = localizedFormat("notification.error.body", fileName, u"boom"_qs);
        QCOMPARE(body, fileName + u" could not be uploaded: boom"_qs);
    }

    // Lookups on other threads while the main thread keeps switching: every
    // text is one of the three whole translations, never a torn table.
    void lookupsWhileSwitching()
    {
        LocalizationService service(u":/i18n"_qs, {u"en"_qs});
        const QSet<QString> valid = {u"Settings"_qs, u"Ajustes"_qs, u"Configurações"_qs};
        std::atomic<bool> done = false;
        std::atomic<int> bad = 0;
        std::atomic<int> lookups = 0;
        std::vector<std::thread> readers;
        for (int i = 0; i < 3; ++i) {
            readers.emplace_back([&] {
                while (!done) {
                    if (!valid.contains(service.localized("settings.title")))
                        ++bad;
                    ++lookups;
                }
            });
        }
        // Keep switching until the readers have really raced the switches,
        // however the threads get scheduled.
        for (int i = 0; i < 300 || lookups.load() < 1000; ++i)
            service.setLanguage(allLanguages()[i % 3]);
        done = true;
        for (auto &reader : readers)
            reader.join();
        QCOMPARE(bad.load(), 0);
        QVERIFY(lookups.load() > 0);
    }
};

QTEST_GUILESS_MAIN(LocalizationServiceTest)
#include "LocalizationServiceTest.moc"
