#include "platform/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace sendova;

namespace {

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

class AutostartEntryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    QString userFolder() const { return m_root.filePath(QStringLiteral("user")); }
    QString systemEntry() const
    {
        return m_root.filePath(QStringLiteral("system/autostart/com.sendova.Sendova.desktop"));
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        qputenv("XDG_CONFIG_HOME", userFolder().toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_root.filePath(QStringLiteral("system")).toUtf8());
    }

    // The user's entry follows the setting; one installed for every user can
    // only be hidden by the user's.
    void followsTheSetting_data()
    {
        QTest::addColumn<bool>("systemEntry");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("userEntryLeft");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("on") << false << true << true << false;
        QTest::newRow("off") << false << false << false << false;
        QTest::newRow("on over the system's") << true << true << true << false;
        QTest::newRow("off over the system's") << true << false << true << true;
    }
    void followsTheSetting()
    {
        QFETCH(bool, systemEntry);
        QFETCH(bool, enabled);
        QFETCH(bool, userEntryLeft);
        QFETCH(bool, hidden);
        if (systemEntry)
            write(this->systemEntry(), AutostartEntry::contents());
        write(AutostartEntry::path(), "[Desktop Entry]\nHidden=true\n");
        // A user's hidden entry switches off whatever the system installed.
        QVERIFY(!AutostartEntry::isEnabled());

        QVERIFY(!AutostartEntry::setEnabled(enabled));

        QCOMPARE(AutostartEntry::path(),
                 userFolder() + QStringLiteral("/autostart/com.sendova.Sendova.desktop"));
        QCOMPARE(QFile::exists(AutostartEntry::path()), userEntryLeft);
        QCOMPARE(AutostartEntry::isEnabled(), enabled);
        const QByteArray contents = read(AutostartEntry::path());
        QCOMPARE(contents.contains("\nHidden=true"), hidden);
        if (userEntryLeft)
            QVERIFY(contents.contains("\nExec=sendova\n"));
    }

    void unwritableFolderIsAFailure()
    {
        write(userFolder(), "a file where the folder should be");
        const std::optional<AutostartEntry::Failure> failure = AutostartEntry::setEnabled(true);
        QVERIFY(failure);
        QVERIFY(!failure->reason.isEmpty());
        QVERIFY(!AutostartEntry::isEnabled());
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "AutostartEntryTest.moc"
