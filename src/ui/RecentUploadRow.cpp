#include "ui/RecentUploadRow.h"

#include "model/AppViewModel.h"
#include "ui/Localized.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

namespace sendova {

namespace {

constexpr int symbolSize = 16;

} // namespace

RecentUploadRow::RecentUploadRow(RecentUpload upload, AppViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_upload(std::move(upload)), m_viewModel(viewModel)
{
    setAttribute(Qt::WA_Hover);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 4, 4);
    row->setSpacing(8);
    m_symbol = new QLabel(this);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    m_name = new ElidedLabel(this, Qt::ElideMiddle);
    m_name->setFont(fontFor(font(), TextStyle::caption));
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_name->setFullText(m_upload.fileName);
    m_time = makeLabel(this, TextStyle::caption2, true);
    texts->addWidget(m_name);
    texts->addWidget(m_time);
    row->addLayout(texts, 1);

    m_copy = new QToolButton(this);
    m_copy->setAutoRaise(true);
    m_copy->setCursor(Qt::PointingHandCursor);
    // A fixed English word, like the links themselves.
    m_copy->setToolTip(QStringLiteral("Copy URL"));
    m_copy->setAccessibleName(QStringLiteral("Copy URL"));
    row->addWidget(m_copy, 0, Qt::AlignVCenter);
    connect(m_copy, &QToolButton::clicked, this, [this] {
        if (m_viewModel)
            m_viewModel->copyLink(m_upload.url);
    });

    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &RecentUploadRow::render);
    renderSymbols();
    render();
}

QString RecentUploadRow::relativeTime(const QDateTime &then, const QDateTime &now)
{
    const qint64 seconds = then.secsTo(now);
    constexpr qint64 minute = 60;
    constexpr qint64 hour = 60 * minute;
    constexpr qint64 day = 24 * hour;
    constexpr qint64 week = 7 * day;
    // A clock set back since the upload says "just now" rather than the future.
    if (seconds < 5)
        return ui::text("time.relative.now");
    if (seconds < minute)
        return localizedFormat("time.relative.seconds", seconds);
    if (seconds < hour)
        return localizedFormat("time.relative.minutes", seconds / minute);
    if (seconds < day)
        return localizedFormat("time.relative.hours", seconds / hour);
    if (seconds < 2 * day)
        return localizedFormat("time.relative.day", 1);
    if (seconds < week)
        return localizedFormat("time.relative.days", seconds / day);
    return localizedFormat("time.relative.weeks", seconds / week);
}

void RecentUploadRow::render()
{
    m_time->setText(relativeTime(m_upload.uploadedAt, QDateTime::currentDateTimeUtc()));
    m_time->setToolTip(QLocale(languageCode(LocalizationService::shared().currentLanguage()))
                           .toString(m_upload.uploadedAt.toLocalTime(), QLocale::LongFormat));
}

void RecentUploadRow::renderSymbols()
{
    const QColor secondary = secondaryColor(palette());
    m_symbol->setPixmap(symbolPixmap(Symbol::document, symbolSize, secondary, devicePixelRatioF()));
    m_copy->setIcon(symbolIcon(Symbol::copy, secondary, symbolSize, devicePixelRatioF()));
}

void RecentUploadRow::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QWidget::enterEvent(event);
}

void RecentUploadRow::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QWidget::leaveEvent(event);
}

void RecentUploadRow::showEvent(QShowEvent *event)
{
    // "5 min ago" is worked out when the row comes into view, not kept from
    // whenever the list was built.
    render();
    QWidget::showEvent(event);
}

void RecentUploadRow::paintEvent(QPaintEvent *)
{
    if (!m_hovered)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = palette().color(QPalette::Highlight);
    background.setAlphaF(0.5f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 4, 4);
    painter.fillPath(shape, background);
}

void RecentUploadRow::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_copy)
        renderSymbols();
    QWidget::changeEvent(event);
}

} // namespace sendova
