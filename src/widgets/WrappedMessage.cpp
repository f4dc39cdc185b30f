#include "widgets/WrappedMessage.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

#include <cmath>

namespace sendova {

namespace {

QTextOption textOption(Qt::Alignment alignment)
{
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// A path or address is read as one piece: it never breaks at a slash (a
// word joiner follows each), and one too long for a line loses its middle,
// so that both ends (the top folder and the file) stay readable.
QString keepPathsWhole(const QString &message, const QFontMetrics &metrics, int width)
{
    static const QRegularExpression token(QStringLiteral("\\S*/\\S*"));
    QString shown;
    qsizetype done = 0;
    for (const QRegularExpressionMatch &match : token.globalMatch(message)) {
        QString path = match.captured();
        if (width > 0 && metrics.horizontalAdvance(path) > width)
            path = metrics.elidedText(path, Qt::ElideMiddle, width);
        shown += message.mid(done, match.capturedStart() - done);
        shown += path.replace(QLatin1Char('/'), QStringLiteral("/\u2060"));
        done = match.capturedEnd();
    }
    return shown + message.mid(done);
}

} // namespace

WrappedMessage::WrappedMessage(QWidget *parent) : QLabel(parent)
{
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappedMessage::setMessage(const QString &text)
{
    m_message = text;
    setToolTip(text);
    setAccessibleName(text);
    updateGeometry();
    update();
}

void WrappedMessage::setMaximumLines(int lines)
{
    m_maximumLines = lines;
    updateGeometry();
}

void WrappedMessage::setLineAlignment(Qt::Alignment alignment)
{
    m_lineAlignment = alignment;
    update();
}

int WrappedMessage::heightForWidth(int width) const
{
    QTextLayout layout(keepPathsWhole(m_message, fontMetrics(), width), font());
    layout.setTextOption(textOption(m_lineAlignment));
    layout.beginLayout();
    qreal height = 0;
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (m_maximumLines > 0 && lines == m_maximumLines)
            break;
        line.setLineWidth(width);
        height += line.height();
        ++lines;
    }
    layout.endLayout();
    return int(std::ceil(height));
}

QSize WrappedMessage::sizeHint() const
{
    return {0, heightForWidth(width() > 0 ? width() : 288)};
}

QSize WrappedMessage::minimumSizeHint() const
{
    return {0, fontMetrics().height()};
}

void WrappedMessage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QString shownMessage = keepPathsWhole(m_message, fontMetrics(), width());
    QTextLayout layout(shownMessage, font());
    layout.setTextOption(textOption(m_lineAlignment));
    layout.beginLayout();
    const qreal lineHeight = fontMetrics().height();
    qreal y = 0;
    int lines = 0;
    m_cut = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width());
        const bool more = line.textStart() + line.textLength() < shownMessage.size();
        const bool lastAllowed = m_maximumLines > 0 && lines + 1 == m_maximumLines;
        if (more && (y + line.height() + lineHeight > height() || lastAllowed)) {
            // The last line that fits takes the rest, cut short.
            const QString rest = shownMessage.mid(line.textStart()).simplified();
            const QString shown = fontMetrics().elidedText(rest, Qt::ElideRight, width());
            painter.drawText(QRectF(0, y, width(), line.height()), m_lineAlignment | Qt::AlignTop, shown);
            m_cut = true;
            break;
        }
        line.setPosition(QPointF(0, y));
        line.draw(&painter, QPointF(0, 0));
        y += line.height();
        ++lines;
    }
    layout.endLayout();
}

} // namespace sendova
