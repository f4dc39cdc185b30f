#include "widgets/Symbols.h"

#include <QPainter>
#include <QSvgRenderer>

namespace sendova {

namespace {

struct SymbolName
{
    const char *theme;
    const char *file;
};

SymbolName nameOf(Symbol symbol)
{
    switch (symbol) {
    case Symbol::appMark:
        return {"document-send", "app-mark"};
    case Symbol::appMarkFilled:
        return {"document-send", "app-mark-filled"};
    case Symbol::gear:
        return {"emblem-system", "gear"};
    case Symbol::dropFile:
        return {"document-import", "drop-file"};
    case Symbol::document:
        return {"text-x-generic", "document"};
    case Symbol::copy:
        return {"edit-copy", "copy"};
    case Symbol::checkmark:
        return {"object-select", "checkmark"};
    case Symbol::checkmarkCircle:
        return {"emblem-ok", "checkmark-circle"};
    case Symbol::documentClock:
        return {"document-open-recent", "document-clock"};
    case Symbol::browser:
        return {"web-browser", "browser"};
    case Symbol::qrCode:
        return {"view-barcode-qr", "qr-code"};
    case Symbol::envelope:
        return {"mail-message-new", "envelope"};
    case Symbol::warning:
        return {"dialog-warning", "warning"};
    case Symbol::arrowUpCircle:
        return {"go-up", "arrow-up-circle"};
    case Symbol::clock:
        return {"appointment-soon", "clock"};
    case Symbol::xmarkCircle:
        return {"window-close", "xmark-circle"};
    case Symbol::eye:
        return {"view-reveal", "eye"};
    case Symbol::eyeSlash:
        return {"view-conceal", "eye-closed"};
    }
    return {"", ""};
}

QString symbolicName(Symbol symbol)
{
    return symbolThemeName(symbol) + QLatin1String("-symbolic");
}

// The shape alone: opaque where the symbol is drawn, in any colour.
QPixmap shape(Symbol symbol, int size, qreal devicePixelRatio)
{
    const QSize pixels = QSize(size, size) * devicePixelRatio;
    if (symbolFromTheme(symbol)) {
        QPixmap themed = QIcon::fromTheme(symbolicName(symbol)).pixmap(QSize(size, size), devicePixelRatio);
        if (!themed.isNull())
            return themed;
    }
    QPixmap pixmap(pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(symbolResource(symbol));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), pixels));
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

} // namespace

QString symbolThemeName(Symbol symbol)
{
    return QLatin1String(nameOf(symbol).theme);
}

QString symbolResource(Symbol symbol)
{
    return QLatin1String(":/icons/") + QLatin1String(nameOf(symbol).file) + QLatin1String(".svg");
}

bool symbolFromTheme(Symbol symbol)
{
    return QIcon::hasThemeIcon(symbolicName(symbol));
}

QPixmap symbolPixmap(Symbol symbol, int size, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap = shape(symbol, size, devicePixelRatio);
    // The theme's symbolic icons carry their own grey; the role decides.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), pixmap.size()), color);
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, const QColor &color, int size, qreal devicePixelRatio)
{
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbol, size, color, devicePixelRatio), QIcon::Normal);
    QColor dimmed = color;
    dimmed.setAlphaF(color.alphaF() * 0.4f);
    icon.addPixmap(symbolPixmap(symbol, size, dimmed, devicePixelRatio), QIcon::Disabled);
    return icon;
}

} // namespace sendova
