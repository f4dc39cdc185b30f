#include "http/HttpText.h"

#include <QtTest>

using namespace sendova::server;

class ServerTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sanitizeFileName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("stored");
        // 127 two-byte characters fit in 255 bytes; the 128th would be split.
        QTest::newRow("300 two-byte characters")
            << QByteArray("\xC3\xA9").repeated(300) << QByteArray("\xC3\xA9").repeated(127);
        // A right-to-left override would show "invoice\u202Efdp.exe" as "invoiceexe.pdf".
        QTest::newRow("bidirectional marks") << QByteArray("invoice\xE2\x80\xAE"
                                                           "fdp.exe\xE2\x81\xA6\xD8\x9C")
                                             << QByteArray("invoicefdp.exe");
        // C1 CSI (some terminals obey it), line separator, zero-width space,
        // byte-order mark, soft hyphen and a tag character: none shows, all go.
        QTest::newRow("invisible and control characters") << QByteArray("a\xC2\x9B"
                                                                        "2Jb\xE2\x80\xA8"
                                                                        "c\xE2\x80\x8B"
                                                                        "d\xEF\xBB\xBF"
                                                                        "e\xC2\xAD"
                                                                        "f\xF3\xA0\x81\x81\x7F.txt")
                                                          << QByteArray("a2Jbcdef.txt");
    }

    void sanitizeFileName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, stored);
        QCOMPARE(QByteArray::fromStdString(sendova::server::sanitizeFileName(name.toStdString())), stored);
    }
};

QTEST_GUILESS_MAIN(ServerTextTest)
#include "ServerTextTest.moc"
