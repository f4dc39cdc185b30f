#include "widgets/Symbols.h"
#include "widgets/TabularLabel.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
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
        for (int i = int(Symbol::appMark); i <= int(Symbol::eyeSlash); ++i)
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

    void themeGivesTheShapeTheRoleTheColour()
    {
        QTemporaryDir themes;
        QDir(themes.path()).mkpath(u"plain/scalable/actions"_qs);
        QFile index(themes.filePath(u"plain/index.theme"_qs));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=plain\nDirectories=scalable/actions\n\n"
                    "[scalable/actions]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        index.close();
        // A grey square in the theme's own colour.
        QFile icon(themes.filePath(u"plain/scalable/actions/edit-copy-symbolic.svg"_qs));
        QVERIFY(icon.open(QIODevice::WriteOnly));
        icon.write("<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
                   "<rect width='16' height='16' fill='#777'/></svg>");
        icon.close();
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(u"plain"_qs);

        const bool themed = symbolFromTheme(Symbol::copy);
        const QImage image = symbolPixmap(Symbol::copy, 16, Qt::blue, 1.0).toImage();
        const bool bundledStill = !symbolFromTheme(Symbol::gear);
        QIcon::setThemeSearchPaths({});
        QIcon::setThemeName(QString());

        QVERIFY(themed);
        QVERIFY(bundledStill);
        QCOMPARE(image.pixelColor(8, 8), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(1, 14), QColor(Qt::blue));
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
