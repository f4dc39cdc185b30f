#include "widgets/Symbols.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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
        const QImage image =
            symbolPixmap(symbol, 32, colour, 2.0).toImage().convertToFormat(QImage::Format_ARGB32);

        QCOMPARE(image.size(), QSize(64, 64));
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
        const auto opaque = [](QRgb pixel) { return qAlpha(pixel) == 255; };
        const qsizetype inked = std::count_if(pixels, pixels + 64 * 64, opaque);
        QVERIFY(std::all_of(pixels, pixels + 64 * 64,
                            [&](QRgb pixel) { return !opaque(pixel) || pixel == colour.rgb(); }));
        // A picture, not a speck and not a filled square.
        QVERIFY2(inked > 64 * 64 / 20 && inked < 64 * 64 * 9 / 10, qPrintable(QString::number(inked)));
    }

    // A grey square in the theme's own colour comes out in the role's colour;
    // what the theme lacks still comes from the bundle.
    void themeGivesTheShapeTheRoleTheColour()
    {
        QTemporaryDir themes;
        QDir(themes.path()).mkpath(u"plain/scalable/actions"_qs);
        const auto write = [&themes](const QString &path, const QByteArray &bytes) {
            QFile file(themes.filePath(path));
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(u"plain/index.theme"_qs,
                      "[Icon Theme]\nName=plain\nDirectories=scalable/actions\n\n"
                      "[scalable/actions]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n"));
        QVERIFY(write(u"plain/scalable/actions/edit-copy-symbolic.svg"_qs,
                      "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
                      "<rect width='16' height='16' fill='#777'/></svg>"));
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(u"plain"_qs);

        const bool themed = symbolFromTheme(Symbol::copy) && !symbolFromTheme(Symbol::gear);
        const QImage image = symbolPixmap(Symbol::copy, 16, Qt::blue, 1.0).toImage();
        QIcon::setThemeSearchPaths({});
        QIcon::setThemeName(QString());

        QVERIFY(themed);
        QCOMPARE(image.pixelColor(8, 8), QColor(Qt::blue));
    }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
