#include "platform/MachineName.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace sendova;

class MachineNameTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void machineName_data();
    void machineName();
};

void MachineNameTest::machineName_data()
{
    QTest::addColumn<std::optional<QByteArray>>("machineInfo");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("expected");

    const QString host = QStringLiteral("build-box");
    QTest::newRow("double-quoted, escaped quote inside")
        << std::optional<QByteArray>("PRETTY_HOSTNAME=\"The \\\"Big\\\" One\"\n") << host
        << QStringLiteral("The \"Big\" One");
    QTest::newRow("single-quoted, other keys around")
        << std::optional<QByteArray>("CHASSIS=laptop\nPRETTY_HOSTNAME='Estação ñ'\nDEPLOYMENT=production\n")
        << host << QStringLiteral("Estação ñ");
    QTest::newRow("unquoted with escaped space")
        << std::optional<QByteArray>("PRETTY_HOSTNAME=My\\ Box\n") << host << QStringLiteral("My Box");
    QTest::newRow("commented out") << std::optional<QByteArray>("# PRETTY_HOSTNAME=\"Old\"\n") << host
                                   << host;
    QTest::newRow("similar key is not it")
        << std::optional<QByteArray>("PRETTY_HOSTNAME_X=\"No\"\n") << host << host;
    QTest::newRow("no file, blank host name")
        << std::optional<QByteArray>() << QStringLiteral("  ") << QStringLiteral("Mac");
}

void MachineNameTest::machineName()
{
    QFETCH(std::optional<QByteArray>, machineInfo);
    QFETCH(QString, hostName);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("machine-info"));
    if (machineInfo) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(*machineInfo);
    }
    QCOMPARE(sendova::machineName(path, hostName), expected);
}

QTEST_GUILESS_MAIN(MachineNameTest)
#include "MachineNameTest.moc"
