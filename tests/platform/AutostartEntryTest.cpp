#include "platform/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace sendova;

namespace {

bool write(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// The user's entry: "none", "hidden", "starts" or "other".
QString userEntry()
{
    QFile file(AutostartEntry::path());
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("none");
    const QByteArray contents = file.readAll();
    if (contents.contains("\nHidden=true"))
        return QStringLiteral("hidden");
    return contents.contains("\nExec=sendova\n") ? QStringLiteral("starts") : QStringLiteral("other");
}

} // namespace

class AutostartEntryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

private Q_SLOTS:
    void init()
    {
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        qputenv("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("user")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_root.filePath(QStringLiteral("system")).toUtf8());
    }

    // An entry installed for every user can only be hidden by the user's,
    // whatever the user's was before. Without one, the user's entry is simply
    // written or removed, and a folder that cannot be written fails the save:
    // the tray program's save tests show both.
    void followsTheSetting_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("userEntry");
        QTest::newRow("on") << true << QStringLiteral("starts");
        QTest::newRow("off") << false << QStringLiteral("hidden");
    }
    void followsTheSetting()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, userEntry);
        QVERIFY(write(m_root.filePath(QStringLiteral("system/autostart/com.sendova.Sendova.desktop")),
                      AutostartEntry::contents()));
        QVERIFY(write(AutostartEntry::path(), "[Desktop Entry]\nHidden=true\n"));
        QVERIFY(!AutostartEntry::isEnabled());

        QVERIFY(!AutostartEntry::setEnabled(enabled));
        QCOMPARE(AutostartEntry::path(),
                 m_root.filePath(QStringLiteral("user/autostart/com.sendova.Sendova.desktop")));
        QCOMPARE(::userEntry(), userEntry);
        QCOMPARE(AutostartEntry::isEnabled(), enabled);
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "AutostartEntryTest.moc"
