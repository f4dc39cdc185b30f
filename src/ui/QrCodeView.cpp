#include "ui/QrCodeView.h"

#include "widgets/ElidedLabel.h"
#include "widgets/TextStyle.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <qrencode.h>

#include <memory>

namespace sendova {

QrCode QrCode::encode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, decltype(&QRcode_free)> encoded(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    QrCode code;
    if (!encoded)
        return code;
    code.size = encoded->width;
    code.modules.resize(code.size * code.size);
    for (int i = 0; i < code.size * code.size; ++i)
        code.modules[i] = (encoded->data[i] & 1) != 0;
    return code;
}

QrCodeView::QrCodeView(const QString &text, QWidget *parent) : QWidget(parent), m_code(QrCode::encode(text))
{
    setMinimumSize(120, 120);
    setAccessibleName(text);
}

void QrCodeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Work in device pixels, so every module is a whole number of them.
    const qreal ratio = devicePixelRatioF();
    painter.scale(1 / ratio, 1 / ratio);
    const int side = int(std::min(width(), height()) * ratio);
    const int modulesAcross = m_code.size + 2 * quietModules;
    const int module = m_code.size > 0 ? side / modulesAcross : 0;
    const int drawn = module * modulesAcross;
    const QPoint origin((int(width() * ratio) - drawn) / 2, (int(height() * ratio) - drawn) / 2);
    painter.fillRect(QRect(origin, QSize(drawn, drawn)), Qt::white);
    for (int y = 0; y < m_code.size; ++y) {
        for (int x = 0; x < m_code.size; ++x) {
            if (m_code.isDark(x, y))
                painter.fillRect(origin.x() + (x + quietModules) * module,
                                 origin.y() + (y + quietModules) * module, module, module, Qt::black);
        }
    }
}

QrCodePopup::QrCodePopup(const QString &link, QWidget *parent) : QFrame(parent, Qt::Popup)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 10);
    layout->setSpacing(8);
    m_view = new QrCodeView(link, this);
    m_view->setFixedSize(220, 220);
    layout->addWidget(m_view, 0, Qt::AlignHCenter);
    auto *caption = new ElidedLabel(this, Qt::ElideMiddle);
    caption->setFont(monospacedFont(font(), TextStyle::caption));
    caption->setAlignment(Qt::AlignCenter);
    caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    caption->setFullText(link);
    setSecondary(caption);
    layout->addWidget(caption);
}

void QrCodePopup::showBelow(QWidget *anchor)
{
    adjustSize();
    QPoint position = anchor->mapToGlobal(QPoint(anchor->width() / 2 - width() / 2, anchor->height() + 4));
    if (const QScreen *screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        position.setX(std::clamp(position.x(), area.left(), std::max(area.left(), area.right() - width())));
        // No room below: above the button instead.
        if (position.y() + height() > area.bottom())
            position.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 4);
    }
    move(position);
    show();
}

} // namespace sendova
