#include "widgets/Symbols.h"
#include "widgets/TabularLabel.h"

#include <QFile>
#include <QImage>
#include <QTest>

using namespace sendova;

Q_DECLARE_METATYPE(sendova::Symbol)

class WidgetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A desktop without any icon theme: every symbol must come from the
        // pictures bundled with the program.
        QIcon::setThemeSearchPaths({});
        QIcon::setFallbackSearchPaths({});
    }

    void bundledSymbols_data()
    {
        QTest::addColumn<Symbol>("symbol");
        for (int i = int(Symbol::appMark); i <= int(Symbol::clock); ++i)
            QTest::newRow(qPrintable(symbolThemeName(Symbol(i)))) << Symbol(i);
    }

    void bundledSymbols()
    {
        QFETCH(Symbol, symbol);
        QVERIFY(!symbolFromTheme(symbol));
        QVERIFY(QFile::exists(symbolResource(symbol)));

        const QColor colour(255, 59, 48);
        const QImage image = symbolPixmap(symbol, 32, colour, 2.0).toImage();

        QCOMPARE(image.size(), QSize(64, 64));
        int inked = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    QCOMPARE(pixel.rgb(), colour.rgb());
                    ++inked;
                }
            }
        }
        // A picture, not a speck and not a filled square.
        QVERIFY2(inked > 64 * 64 / 20 && inked < 64 * 64 * 9 / 10, qPrintable(QString::number(inked)));
    }

    void tabularDigitsKeepTheirWidth()
    {
        TabularLabel narrow(QStringLiteral("11%"));
        TabularLabel wide(QStringLiteral("88%"));
        QCOMPARE(narrow.sizeHint().width(), wide.sizeHint().width());
    }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
