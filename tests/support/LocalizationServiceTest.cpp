#include "support/LocalizationService.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <atomic>
#include <thread>

using namespace sendova;

namespace {

// The keys of the English table, read from its source.
QStringList englishKeys()
{
    QFile file(QStringLiteral(SENDOVA_I18N_DIR "/sendova_en.ts"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the English table");
    static const QRegularExpression source(u"<message id=\"([^\"]+)\""_qs);
    QStringList keys;
    for (auto it = source.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();)
        keys << it.next().captured(1);
    return keys;
}

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
        const QStringList keys = englishKeys();
        QVERIFY(keys.size() > 50);
        for (const QString &key : keys) {
            const QString text = service.localized(key);
            QVERIFY2(text != key && !text.trimmed().isEmpty(), qPrintable(key));
            QCOMPARE(placeholders(text), placeholders(english.localized(key)));
        }
    }

    // Before a language is chosen, the desktop's preference decides.
    void initialTableFollowsTheDesktop_data()
    {
        QTest::addColumn<QStringList>("preferred");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first shipped wins")
            << QStringList{u"fr-FR"_qs, u"pt_BR"_qs, u"es"_qs} << u"Configurações"_qs;
        QTest::newRow("nothing shipped") << QStringList{u"de-DE"_qs} << u"Settings"_qs;
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
        // A text no table has shows its key.
        QCOMPARE(service.localized("settings.nonexistent"), u"settings.nonexistent"_qs);
        QCOMPARE(service.localized(""), QString());
    }

    // Texts are looked up on worker threads (the command line's progress,
    // the share program) while the interface switches language: every text
    // read is whole, in one of the languages.
    void lookupsWhileTheLanguageSwitches()
    {
        LocalizationService &service = LocalizationService::shared();
        std::atomic<bool> done{false};
        std::thread switcher([&] {
            for (int i = 0; i < 30000; ++i)
                service.setLanguage(
                    std::array{Language::english, Language::spanish, Language::portuguese}[i % 3]);
            done = true;
        });
        const QStringList expected{u"Settings"_qs, u"Ajustes"_qs, u"Configurações"_qs};
        int lookups = 0;
        while (!done) {
            const QString text = service.localized("settings.title");
            ++lookups;
            if (!expected.contains(text)) {
                done = true;
                switcher.join();
                QFAIL(qPrintable(u"read "_qs + text));
            }
        }
        switcher.join();
        QVERIFY(lookups > 0);
    }

    void argumentsAreNeverReExpanded()
    {
        const QString fileName = u"50%1 off.pdf"_qs;
        LocalizationService::shared().setLanguage(Language::english);
        const QString body = localizedFormat("notification.error.body", fileName, u"boom"_qs);
        QCOMPARE(body, fileName + u" could not be uploaded: boom"_qs);
    }
};

QTEST_GUILESS_MAIN(LocalizationServiceTest)
#include "LocalizationServiceTest.moc"
