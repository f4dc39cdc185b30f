#include "ui/ConnectionStatusView.h"

#include "ui/Localized.h"
#include "widgets/BusySpinner.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"
#include "widgets/WrappedMessage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace sendova {

namespace {

constexpr int symbolSize = 14;
// A transport failure can be long; the tooltip has the rest.
constexpr int messageLines = 2;

} // namespace

ConnectionStatusView::ConnectionStatusView(QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    m_spinner = new BusySpinner(this, 0.75);
    m_symbol = new QLabel(this);
    m_message = new WrappedMessage(this);
    m_message->setLineAlignment(Qt::AlignLeft);
    m_message->setMaximumLines(messageLines);
    m_message->setFont(fontFor(font(), TextStyle::caption));
    row->addWidget(m_spinner, 0, Qt::AlignVCenter);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);
    row->addWidget(m_message, 1, Qt::AlignVCenter);
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &ConnectionStatusView::render);
    render();
}

void ConnectionStatusView::setStatus(const std::optional<ConnectionStatus> &status, bool testing)
{
    m_status = status;
    m_testing = testing;
    render();
}

QString ConnectionStatusView::text(const ConnectionStatus &status)
{
    if (status.statusCase == ConnectionStatus::Case::success)
        return ui::text("settings.status.connected");
    return status.message;
}

QString ConnectionStatusView::shownText() const
{
    return m_message->isVisible() ? m_message->message() : QString();
}

bool ConnectionStatusView::isSpinning() const
{
    return m_spinner->isVisible();
}

void ConnectionStatusView::render()
{
    const bool shown = m_status && !m_testing;
    m_spinner->setVisible(m_testing);
    m_symbol->setVisible(shown);
    m_message->setVisible(shown);
    if (!shown)
        return;
    const bool success = m_status->statusCase == ConnectionStatus::Case::success;
    const QColor colour = success ? successGreen(palette()) : failureRed(palette());
    m_symbol->setPixmap(symbolPixmap(success ? Symbol::checkmarkCircle : Symbol::xmarkCircle, symbolSize,
                                     colour, devicePixelRatioF()));
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, colour);
    m_message->setPalette(palette);
    m_message->setMessage(text(*m_status));
}

void ConnectionStatusView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_message)
        render();
    QWidget::changeEvent(event);
}

} // namespace sendova
