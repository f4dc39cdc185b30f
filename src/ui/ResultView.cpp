#include "ui/ResultView.h"

#include "model/AppViewModel.h"
#include "platform/UrlOpener.h"
#include "ui/Localized.h"
#include "ui/QrCodeView.h"
#include "widgets/ElidedLabel.h"
#include "widgets/ProminentButton.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTimer>
#include <QVBoxLayout>

namespace sendova {

namespace {

constexpr int margin = 16;
constexpr int statusSymbolSize = 48;
constexpr int linkSymbolSize = 14;

// The link box: a borderless button on a rounded field in the text
// background colour, so it reads as the copyable value it is.
class LinkBox : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath field;
        field.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(field, palette().color(QPalette::Base));
        QColor edge = hairlineColor(palette());
        if (underMouse() || hasFocus())
            edge = accentColor(palette());
        painter.setPen(QPen(edge, 1));
        painter.drawPath(field);
    }
};

} // namespace

ResultView::ResultView(QString url, bool isDuplicate, QString fileName, AppViewModel *viewModel,
                       std::function<void()> onDismiss, QWidget *parent)
    : QWidget(parent), m_url(std::move(url)), m_isDuplicate(isDuplicate), m_fileName(std::move(fileName)),
      m_viewModel(viewModel), m_onDismiss(std::move(onDismiss))
{
    setMinimumHeight(280);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(16);
    // What the view holds sits in the middle of the room it is given.
    layout->addStretch(1);

    auto *title = new QVBoxLayout;
    title->setSpacing(6);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("resultSymbol"));
    title->addWidget(m_icon, 0, Qt::AlignHCenter);
    title->addSpacing(4);
    m_headline = makeLabel(this, TextStyle::headline, false);
    m_headline->setAlignment(Qt::AlignCenter);
    title->addWidget(m_headline);
    m_fileNameLabel = new ElidedLabel(this, Qt::ElideMiddle);
    m_fileNameLabel->setFont(fontFor(font(), TextStyle::subheadline));
    m_fileNameLabel->setAlignment(Qt::AlignCenter);
    m_fileNameLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_fileNameLabel->setFullText(m_fileName);
    setSecondary(m_fileNameLabel);
    title->addWidget(m_fileNameLabel);
    layout->addLayout(title);

    auto *link = new QVBoxLayout;
    link->setSpacing(4);
    m_linkCaption = makeLabel(this, TextStyle::caption, true);
    link->addWidget(m_linkCaption);
    m_linkBox = new LinkBox(this);
    m_linkBox->setCursor(Qt::PointingHandCursor);
    m_linkBox->setToolTip(m_url);
    auto *boxRow = new QHBoxLayout(m_linkBox);
    boxRow->setContentsMargins(8, 8, 8, 8);
    boxRow->setSpacing(6);
    m_linkText = new ElidedLabel(m_linkBox, Qt::ElideMiddle);
    m_linkText->setFont(monospacedFont(font(), TextStyle::caption));
    m_linkText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_linkText->setFullText(m_url);
    m_linkText->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_linkSymbol = new QLabel(m_linkBox);
    m_linkSymbol->setAttribute(Qt::WA_TransparentForMouseEvents);
    boxRow->addWidget(m_linkText, 1);
    boxRow->addWidget(m_linkSymbol);
    m_linkBox->setFixedHeight(m_linkText->sizeHint().height() + 16);
    link->addWidget(m_linkBox);
    layout->addLayout(link);
    connect(m_linkBox, &QPushButton::clicked, this, &ResultView::copy);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    m_copyButton = new QPushButton(this);
    m_openButton = new QPushButton(this);
    m_qrButton = new QPushButton(this);
    auto *done = new ProminentButton(this);
    done->answerReturnIn(this);
    m_okButton = done;
    for (QPushButton *button : {m_copyButton, m_openButton, m_qrButton})
        button->setAutoDefault(false);
    // Open and its QR code are one pair: no gap of a whole button between them.
    auto *openPair = new QHBoxLayout;
    openPair->setSpacing(4);
    openPair->addWidget(m_openButton);
    openPair->addWidget(m_qrButton);
    buttons->addWidget(m_copyButton);
    buttons->addLayout(openPair);
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(m_copyButton, &QPushButton::clicked, this, &ResultView::copy);
    connect(m_openButton, &QPushButton::clicked, this, &ResultView::open);
    connect(m_qrButton, &QPushButton::clicked, this, &ResultView::showQrCode);
    connect(m_okButton, &QPushButton::clicked, this, [this] {
        if (m_onDismiss)
            m_onDismiss();
    });

    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &ResultView::render);
    renderSymbols();
    render();
    // One height for the row, though only some buttons carry a symbol; the
    // QR code's button is square.
    const int height = std::max(m_copyButton->sizeHint().height(), m_okButton->sizeHint().height());
    for (QPushButton *button : {m_copyButton, m_openButton, m_okButton})
        button->setFixedHeight(height);
    m_qrButton->setFixedSize(height, height);
}

QrCodePopup *ResultView::qrPopup() const
{
    return m_qrPopup;
}

void ResultView::copy()
{
    // "Copied" only for a copy the desktop confirmed.
    if (!m_viewModel || !m_viewModel->copyLink(m_url))
        return;
    setCopied(true);
    // Each copy has its own reset: a second copy within the two seconds is
    // cleared by the first one's timer.
    QTimer::singleShot(copiedMs, this, [this] { setCopied(false); });
}

void ResultView::open()
{
    const QUrl url(m_url, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    UrlOpener::open(url);
}

void ResultView::showQrCode()
{
    if (m_qrPopup) {
        m_qrPopup->close();
        return;
    }
    m_qrPopup = new QrCodePopup(m_url, this);
    m_qrPopup->showBelow(m_qrButton);
}

void ResultView::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    render();
    renderSymbols();
}

void ResultView::render()
{
    m_headline->setText(ui::text(m_isDuplicate ? "result.duplicate.title" : "result.success.title"));
    const bool pressCopy = m_viewModel && m_viewModel->uncopiedLink() == m_url;
    m_linkCaption->setText(ui::text(m_copied    ? "result.url.copied"
                                    : pressCopy ? "result.url.press_copy"
                                                : "result.url.label"));
    m_linkBox->setAccessibleName(ui::text("result.button.copy"));
    m_linkBox->setAccessibleDescription(m_url);
    m_copyButton->setText(ui::text("result.button.copy"));
    m_openButton->setText(ui::text("result.button.open"));
    m_qrButton->setToolTip(ui::text("result.button.qr_code"));
    m_qrButton->setAccessibleName(ui::text("result.button.qr_code"));
    m_okButton->setText(ui::text("result.button.ok"));
}

void ResultView::renderSymbols()
{
    const QPalette &colors = palette();
    const qreal ratio = devicePixelRatioF();
    m_icon->setPixmap(
        m_isDuplicate ? symbolPixmap(Symbol::documentClock, statusSymbolSize, warningOrange(colors), ratio)
                      : symbolPixmap(Symbol::checkmarkCircle, statusSymbolSize, successGreen(colors), ratio));
    m_linkSymbol->setPixmap(m_copied
                                ? symbolPixmap(Symbol::checkmark, linkSymbolSize, successGreen(colors), ratio)
                                : symbolPixmap(Symbol::copy, linkSymbolSize, secondaryColor(colors), ratio));
    const QColor buttonText = colors.color(QPalette::ButtonText);
    m_copyButton->setIcon(symbolIcon(Symbol::copy, buttonText, 16, ratio));
    m_openButton->setIcon(symbolIcon(Symbol::browser, buttonText, 16, ratio));
    m_qrButton->setIcon(symbolIcon(Symbol::qrCode, buttonText, 16, ratio));
}

void ResultView::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_icon)
        renderSymbols();
    QWidget::changeEvent(event);
}

} // namespace sendova
