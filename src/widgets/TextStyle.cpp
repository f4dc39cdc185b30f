#include "widgets/TextStyle.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLabel>

namespace sendova {

QFont fontFor(const QFont &base, TextStyle style)
{
    QFont font = base;
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    switch (style) {
    case TextStyle::title2:
        font.setPointSizeF(size + 5);
        break;
    case TextStyle::headline:
        font.setBold(true);
        break;
    case TextStyle::subheadline:
        font.setPointSizeF(size - 0.5);
        break;
    case TextStyle::caption:
        font.setPointSizeF(size - 1.5);
        break;
    case TextStyle::caption2:
        font.setPointSizeF(size - 2);
        break;
    }
    return font;
}

QFont monospacedFont(const QFont &base, TextStyle style)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(fontFor(base, style).pointSizeF());
    return font;
}

QColor accentColor(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor secondaryColor(const QPalette &palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor::fromRgbF(text.redF() * 0.6f + window.redF() * 0.4f,
                            text.greenF() * 0.6f + window.greenF() * 0.4f,
                            text.blueF() * 0.6f + window.blueF() * 0.4f);
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor successGreen(const QPalette &palette)
{
    return isDark(palette) ? QColor(48, 209, 88) : QColor(52, 199, 89);
}

QColor failureRed(const QPalette &palette)
{
    return isDark(palette) ? QColor(255, 69, 58) : QColor(255, 59, 48);
}

QColor warningOrange(const QPalette &palette)
{
    return isDark(palette) ? QColor(255, 159, 10) : QColor(255, 149, 0);
}

QColor hairlineColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(isDark(palette) ? 0.16f : 0.12f);
    return color;
}

namespace {

// Re-derives the secondary colour whenever the palette around the widget
// changes (the desktop switching between light and dark while we run).
class SecondaryTint : public QObject
{
public:
    explicit SecondaryTint(QWidget *widget) : QObject(widget) { apply(widget); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
            apply(static_cast<QWidget *>(watched));
        return false;
    }

    static void apply(QWidget *widget)
    {
        // The colours to mix come from around the widget: its own text colour
        // is the one this sets.
        const QWidget *source = widget->parentWidget() ? widget->parentWidget() : widget;
        QPalette palette = widget->palette();
        const QColor secondary = secondaryColor(source->palette());
        palette.setColor(QPalette::WindowText, secondary);
        palette.setColor(QPalette::ButtonText, secondary);
        widget->setPalette(palette);
    }
};

} // namespace

void setSecondary(QWidget *widget)
{
    widget->installEventFilter(new SecondaryTint(widget));
}

QLabel *makeLabel(QWidget *parent, TextStyle style, bool secondary)
{
    auto *label = new QLabel(parent);
    label->setFont(fontFor(label->font(), style));
    if (secondary)
        setSecondary(label);
    return label;
}

} // namespace sendova
