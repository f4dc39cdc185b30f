#include "ui/UploadProgressView.h"

#include "support/Language.h"
#include "ui/Localized.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Symbols.h"
#include "widgets/TabularLabel.h"
#include "widgets/TextStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace sendova {

namespace {

constexpr int margin = 16;
constexpr int fileSymbolSize = 32;
constexpr int rowSymbolSize = 12;

QLocale currentLocale()
{
    return QLocale(languageCode(LocalizationService::shared().currentLanguage()));
}

// A label with a small symbol before it, in the caption font and the
// secondary colour.
QWidget *symbolAndLabel(QWidget *parent, QLabel **symbol, TabularLabel **label)
{
    auto *box = new QWidget(parent);
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    *symbol = new QLabel(box);
    *label = new TabularLabel(box);
    (*label)->setFont(fontFor(box->font(), TextStyle::caption));
    setSecondary(*label);
    row->addWidget(*symbol, 0, Qt::AlignVCenter);
    row->addWidget(*label, 0, Qt::AlignVCenter);
    return box;
}

} // namespace

UploadProgressView::UploadProgressView(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(200);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(16);

    auto *file = new QVBoxLayout;
    file->setSpacing(4);
    m_fileSymbol = new QLabel(this);
    m_fileName = new ElidedLabel(this, Qt::ElideMiddle);
    m_fileName->setFont(fontFor(font(), TextStyle::subheadline));
    m_fileName->setAlignment(Qt::AlignCenter);
    m_fileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_fileSize = makeLabel(this, TextStyle::caption, true);
    m_fileSize->setAlignment(Qt::AlignCenter);
    file->addWidget(m_fileSymbol, 0, Qt::AlignHCenter);
    file->addWidget(m_fileName);
    file->addWidget(m_fileSize);
    layout->addLayout(file);

    m_status = makeLabel(this, TextStyle::caption, true);
    m_status->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_status);

    auto *meter = new QVBoxLayout;
    meter->setSpacing(8);
    meter->setContentsMargins(margin, 0, margin, 0);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, barSteps);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(6);
    meter->addWidget(m_bar);
    auto *figures = new QHBoxLayout;
    m_percentage = new TabularLabel(this);
    m_percentage->setFont(fontFor(font(), TextStyle::caption));
    m_speed = new TabularLabel(this);
    m_speed->setFont(fontFor(font(), TextStyle::caption));
    m_speed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setSecondary(m_speed);
    figures->addWidget(m_percentage);
    figures->addStretch(1);
    figures->addWidget(m_speed);
    meter->addLayout(figures);
    layout->addLayout(meter);

    m_transferRow = new QWidget(this);
    auto *transfer = new QHBoxLayout(m_transferRow);
    transfer->setContentsMargins(margin, 0, margin, 0);
    transfer->addWidget(symbolAndLabel(m_transferRow, &m_sentSymbol, &m_sent));
    transfer->addStretch(1);
    transfer->addWidget(symbolAndLabel(m_transferRow, &m_timeSymbol, &m_timeLeft));
    layout->addWidget(m_transferRow);

    m_cancel = new QPushButton(this);
    m_cancel->setAutoDefault(false);
    m_cancel->setVisible(false);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel)
            m_onCancel();
    });
    layout->addStretch(1);

    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &UploadProgressView::render);
    renderSymbols();
    render();
}

void UploadProgressView::setProgress(const UploadProgress &progress)
{
    m_progress = progress;
    render();
}

void UploadProgressView::setOnCancel(std::function<void()> onCancel)
{
    m_onCancel = std::move(onCancel);
    m_cancel->setVisible(bool(m_onCancel));
}

QString UploadProgressView::statusText(const UploadProgress &progress)
{
    using Case = UploadState::Case;
    switch (progress.state.stateCase()) {
    case Case::idle:
        return ui::text("upload.status.ready");
    case Case::hashing: {
        const double fraction = progress.state.get<UploadState::Hashing>()->progress;
        return ui::text("upload.status.hashing") + QLatin1Char(' ') + QString::number(int(fraction * 100)) +
               QLatin1Char('%');
    }
    case Case::checkingDuplicate:
        return ui::text("upload.status.checking");
    case Case::uploading:
        return ui::text("upload.status.uploading");
    case Case::completed:
        return ui::text("upload.status.completed");
    case Case::failed:
        return ui::text("upload.status.error");
    }
    return {};
}

double UploadProgressView::barValue(const UploadProgress &progress)
{
    using Case = UploadState::Case;
    switch (progress.state.stateCase()) {
    case Case::idle:
    case Case::failed:
        return 0.0;
    case Case::hashing:
        return progress.state.get<UploadState::Hashing>()->progress * 0.1;
    case Case::checkingDuplicate:
        return 0.1;
    case Case::uploading:
        if (progress.fileSize > 0)
            return 0.1 + 0.9 * (double(progress.bytesUploaded) / double(progress.fileSize));
        return 0.1;
    case Case::completed:
        return 1.0;
    }
    return 0.0;
}

QString UploadProgressView::byteCount(qint64 bytes)
{
    return currentLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

void UploadProgressView::render()
{
    // The multipart framing is counted too, so the last bytes would carry the
    // figures past the file's size: what the user sees stops at the end.
    UploadProgress shown = m_progress;
    shown.bytesUploaded = std::min(shown.bytesUploaded, std::max<qint64>(shown.fileSize, 0));

    m_fileName->setFullText(m_progress.fileName);
    m_fileSize->setText(byteCount(m_progress.fileSize));
    m_status->setText(statusText(m_progress));
    m_bar->setValue(int(std::lround(std::clamp(barValue(m_progress), 0.0, 1.0) * barSteps)));
    m_percentage->setText(QString::number(shown.percentage()) + QLatin1Char('%'));

    const bool uploading = m_progress.state.stateCase() == UploadState::Case::uploading;
    m_speed->setVisible(uploading);
    m_transferRow->setVisible(uploading);
    if (uploading) {
        m_speed->setText(shown.speedText());
        m_sent->setText(byteCount(shown.bytesUploaded));
        m_timeLeft->setText(shown.timeRemainingText());
    }
    m_cancel->setText(ui::text("upload.button.cancel"));
}

void UploadProgressView::renderSymbols()
{
    const qreal ratio = devicePixelRatioF();
    m_fileSymbol->setPixmap(symbolPixmap(Symbol::document, fileSymbolSize, accentColor(palette()), ratio));
    const QColor secondary = secondaryColor(palette());
    m_sentSymbol->setPixmap(symbolPixmap(Symbol::arrowUpCircle, rowSymbolSize, secondary, ratio));
    m_timeSymbol->setPixmap(symbolPixmap(Symbol::clock, rowSymbolSize, secondary, ratio));
}

void UploadProgressView::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_timeSymbol)
        renderSymbols();
    QWidget::changeEvent(event);
}

} // namespace sendova
