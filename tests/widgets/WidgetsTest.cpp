#include "widgets/ProminentButton.h"
#include "widgets/Symbols.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace sendova;

class WidgetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bundledSymbols_data()
    {
        QTest::addColumn<int>("symbol");
        for (int i = int(Symbol::appMark); i <= int(Symbol::eyeSlash); ++i)
            QTest::newRow(qPrintable(symbolThemeName(Symbol(i)))) << i;
    }

    void bundledSymbols()
    {
        QFETCH(int, symbol);
        // A desktop without any icon theme: every symbol must come from the
        // pictures bundled with the program.
        QIcon::setThemeSearchPaths({});
        QIcon::setFallbackSearchPaths({});
        const QImage image =
            symbolPixmap(Symbol(symbol), 32, Qt::red, 2.0).toImage().convertToFormat(QImage::Format_ARGB32);

        QCOMPARE(image.size(), QSize(64, 64));
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
        // Each pixel see-through or in the colour: a picture, not a speck and
        // not a filled square.
        const qsizetype inked = std::count(pixels, pixels + 64 * 64, qRgb(255, 0, 0));
        QCOMPARE(std::count_if(pixels, pixels + 64 * 64, [](QRgb pixel) { return qAlpha(pixel) == 255; }),
                 inked);
        QVERIFY2(inked > 64 * 64 / 20 && inked < 64 * 64 * 9 / 10, qPrintable(QString::number(inked)));
    }

    // A grey square in the theme's own colour comes out in the role's colour;
    // what the theme lacks still comes from the bundle.
    void themeGivesTheShapeTheRoleTheColour()
    {
        QTemporaryDir themes;
        QDir(themes.path()).mkpath(u"plain/a"_qs);
        const auto write = [&themes](const QString &path, const QByteArray &bytes) {
            QFile file(themes.filePath(path));
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(u"plain/index.theme"_qs,
                      "[Icon Theme]\nName=plain\nDirectories=a\n[a]\nSize=16\nType=Scalable\n"));
        QVERIFY(write(u"plain/a/edit-copy-symbolic.svg"_qs,
                      "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
                      "<rect width='16' height='16' fill='#777'/></svg>"));
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(u"plain"_qs);

        QVERIFY(symbolFromTheme(Symbol::copy) && !symbolFromTheme(Symbol::gear));
        QCOMPARE(symbolPixmap(Symbol::copy, 16, Qt::blue, 1.0).toImage().pixelColor(8, 8), QColor(Qt::blue));
    }

    // Tabbing to a window's main button shows that the keyboard is on it: a
    // ring at least half the button's outline long, clearly lighter or darker.
    void focusOnTheMainButtonShows()
    {
        QWidget window;
        auto *other = new QPushButton(u"Copy"_qs, &window);
        auto *button = new ProminentButton(&window);
        button->setText(u"Done"_qs);
        auto *row = new QHBoxLayout(&window);
        row->addWidget(other);
        row->addWidget(button);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        const QImage away = button->grab().toImage();
        button->setFocus();
        QTRY_VERIFY(button->hasFocus());
        const QImage on = button->grab().toImage();
        QCOMPARE(on.size(), away.size());
        int changed = 0;
        for (int y = 0; y < on.height(); ++y) {
            for (int x = 0; x < on.width(); ++x)
                changed += std::abs(qGray(on.pixel(x, y)) - qGray(away.pixel(x, y))) >= 64;
        }
        QVERIFY2(changed >= on.width() + on.height(), qPrintable(QString::number(changed)));
    }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
