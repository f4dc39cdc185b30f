#include "platform/MachineName.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace sendova;

class MachineNameTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void machineName_data()
    {
        QTest::addColumn<QByteArray>("machineInfo"); // null: no file
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("expected");

        const QString host = QStringLiteral("build-box");
        QTest::newRow("double-quoted, escaped quote inside")
            << QByteArray("PRETTY_HOSTNAME=\"The \\\"Big\\\" One\"\n") << host
            << QStringLiteral("The \"Big\" One");
        QTest::newRow("single-quoted, other keys around")
            << QByteArray("CHASSIS=laptop\nPRETTY_HOSTNAME='Estação ñ'\nDEPLOYMENT=production\n") << host
            << QStringLiteral("Estação ñ");
        QTest::newRow("commented out, similar key")
            << QByteArray("# PRETTY_HOSTNAME=\"Old\"\nPRETTY_HOSTNAME_X=\"No\"\n") << host << host;
        QTest::newRow("no file, blank host name")
            << QByteArray() << QStringLiteral("  ") << QStringLiteral("Mac");
    }

    void machineName()
    {
        QFETCH(QByteArray, machineInfo);
        QFETCH(QString, hostName);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("machine-info")));
        if (!machineInfo.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(machineInfo) == machineInfo.size());
        file.close();
        QCOMPARE(sendova::machineName(file.fileName(), hostName), expected);
    }
};

QTEST_GUILESS_MAIN(MachineNameTest)
#include "MachineNameTest.moc"
