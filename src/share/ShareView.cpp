#include "share/ShareView.h"

#include "share/ShareIcons.h"
#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace sendova {

namespace {

constexpr int inset = 16;
constexpr int headerGap = 8;
constexpr int statusIconSize = 32;
// Progress bars hold fractions; this many steps keeps a large file's bar
// moving smoothly.
constexpr int barSteps = 1000;

const QColor successGreen(52, 199, 89);
const QColor failureRed(255, 59, 48);

QString localizedText(const char *key)
{
    return LocalizationService::shared().localized(key);
}

// Text styles of the panel, relative to the desktop's own font size.
enum class TextStyle { title2, headline, subheadline, caption };

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
    }
    return font;
}

QColor secondaryColor(const QPalette &palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor::fromRgbF(text.redF() * 0.6f + window.redF() * 0.4f,
                            text.greenF() * 0.6f + window.greenF() * 0.4f,
                            text.blueF() * 0.6f + window.blueF() * 0.4f);
}

QLabel *makeLabel(QWidget *parent, TextStyle style, bool secondary)
{
    auto *label = new QLabel(parent);
    label->setFont(fontFor(label->font(), style));
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, secondaryColor(palette));
        label->setPalette(palette);
    }
    return label;
}

// One line of text that is cut with an ellipsis when it does not fit, so a
// long file name never pushes the panel's layout around.
class ElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;

    void setFullText(const QString &text)
    {
        m_fullText = text;
        setToolTip(text);
        updateGeometry();
        update();
    }
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override { return {0, fontMetrics().height()}; }
    QSize sizeHint() const override
    {
        // Rounded up: a width rounded down would elide the text it was taken from.
        return {int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_fullText))), fontMetrics().height()};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideRight, contentsRect().width());
        painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shown);
    }

private:
    QString m_fullText;
};

ElidedLabel *makeElidedLabel(QWidget *parent, TextStyle style)
{
    auto *label = new ElidedLabel(parent);
    label->setFont(fontFor(label->font(), style));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    label->setPalette(palette);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return label;
}

// A message centred on as many lines as it needs, as long as the panel has
// room for them: a message longer than that (a server may say anything) ends
// with an ellipsis on the last line that fits, and the whole of it stays in
// the tooltip. Long words and paths break anywhere rather than widen the
// panel.
class WrappedMessage : public QLabel
{
public:
    explicit WrappedMessage(QWidget *parent) : QLabel(parent)
    {
        QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    void setMessage(const QString &text)
    {
        m_message = text;
        setToolTip(text);
        updateGeometry();
        update();
    }
    QString message() const { return m_message; }
    // Whether the last render had to leave part of the message out.
    bool isCut() const { return m_cut; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        QTextLayout layout(m_message, font());
        layout.setTextOption(textOption());
        layout.beginLayout();
        qreal height = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            height += line.height();
        }
        layout.endLayout();
        return int(std::ceil(height));
    }
    QSize sizeHint() const override { return {0, heightForWidth(width() > 0 ? width() : 288)}; }
    QSize minimumSizeHint() const override { return {0, fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        QTextLayout layout(m_message, font());
        layout.setTextOption(textOption());
        layout.beginLayout();
        const qreal lineHeight = fontMetrics().height();
        qreal y = 0;
        m_cut = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width());
            const bool more = line.textStart() + line.textLength() < m_message.size();
            if (more && y + line.height() + lineHeight > height()) {
                // The last line that fits takes the rest, cut short.
                const QString rest = m_message.mid(line.textStart()).simplified();
                const QString shown = fontMetrics().elidedText(rest, Qt::ElideRight, width());
                painter.drawText(QRectF(0, y, width(), line.height()), Qt::AlignHCenter | Qt::AlignTop,
                                 shown);
                m_cut = true;
                break;
            }
            line.setPosition(QPointF(0, y));
            line.draw(&painter, QPointF(0, 0));
            y += line.height();
        }
        layout.endLayout();
    }

private:
    static QTextOption textOption()
    {
        QTextOption option(Qt::AlignHCenter);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        return option;
    }

    QString m_message;
    bool m_cut = false;
};

// A small turning arc: the indeterminate activity mark of the first steps.
class BusySpinner : public QWidget
{
public:
    explicit BusySpinner(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(22, 22);
        m_timer.setInterval(40);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_angle = (m_angle + 12) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent *) override { m_timer.start(); }
    void hideEvent(QHideEvent *) override { m_timer.stop(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
        QColor track = palette().color(QPalette::WindowText);
        track.setAlphaF(0.15f);
        painter.setPen(QPen(track, 3));
        painter.drawEllipse(area);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(area, -m_angle * 16, 100 * 16);
    }

private:
    QTimer m_timer;
    int m_angle = 0;
};

QProgressBar *makeBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, barSteps);
    bar->setTextVisible(false);
    bar->setFixedHeight(8);
    return bar;
}

int barValue(double fraction)
{
    return int(std::lround(std::clamp(fraction, 0.0, 1.0) * barSteps));
}

QVBoxLayout *pageLayout(QWidget *page, int spacing)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addStretch(1);
    return layout;
}

} // namespace

ShareView::ShareView(ShareViewModel *model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setFixedSize(panelWidth, panelHeight);
    setWindowTitle(QStringLiteral("Sendova"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    m_productIcon = new QLabel(this);
    m_productName = makeLabel(this, TextStyle::headline, false);
    header->addWidget(m_productIcon, 0, Qt::AlignVCenter);
    header->addWidget(m_productName, 0, Qt::AlignVCenter);
    header->addStretch(1);
    // Says so when a selection of several files arrives: only the first is sent.
    auto *note = makeElidedLabel(this, TextStyle::caption);
    note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    note->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_filesNote = note;
    header->addWidget(m_filesNote, 0, Qt::AlignVCenter);
    layout->addLayout(header);
    layout->addSpacing(headerGap);

    m_content = new QStackedWidget(this);
    m_idlePage = buildSpinnerPage(&m_idleStatus);
    m_loadingPage = buildSpinnerPage(&m_loadingStatus);
    m_hashingPage = buildHashingPage();
    m_uploadingPage = buildUploadingPage();
    m_successPage = buildSuccessPage();
    m_errorPage = buildErrorPage();
    for (QWidget *page :
         {m_idlePage, m_loadingPage, m_hashingPage, m_uploadingPage, m_successPage, m_errorPage})
        m_content->addWidget(page);
    layout->addWidget(m_content, 1);

    auto *buttons = new QHBoxLayout;
    m_endButton = new QPushButton(this);
    buttons->addStretch(1);
    buttons->addWidget(m_endButton);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    connect(m_endButton, &QPushButton::clicked, this, &ShareView::endButtonClicked);

    if (m_model)
        connect(m_model, &ShareViewModel::changed, this, &ShareView::render);
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &ShareView::render);
    renderProductIcon();
    render();
}

QWidget *ShareView::buildSpinnerPage(QLabel **status)
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = pageLayout(page, 8);
    layout->addWidget(new BusySpinner(page), 0, Qt::AlignHCenter);
    *status = makeLabel(page, TextStyle::subheadline, true);
    (*status)->setAlignment(Qt::AlignHCenter);
    layout->addWidget(*status);
    layout->addStretch(1);
    return page;
}

QWidget *ShareView::buildHashingPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = pageLayout(page, 8);
    m_hashBar = makeBar(page);
    layout->addWidget(m_hashBar);
    m_hashStatus = makeLabel(page, TextStyle::subheadline, true);
    m_hashStatus->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_hashStatus);
    auto *name = makeElidedLabel(page, TextStyle::caption);
    name->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_hashFileName = name;
    layout->addWidget(m_hashFileName);
    layout->addStretch(1);
    return page;
}

QWidget *ShareView::buildUploadingPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = pageLayout(page, 8);
    m_uploadBar = makeBar(page);
    layout->addWidget(m_uploadBar);

    auto *statusRow = new QHBoxLayout;
    m_uploadStatus = makeLabel(page, TextStyle::subheadline, false);
    m_uploadPercent = makeLabel(page, TextStyle::subheadline, true);
    statusRow->addWidget(m_uploadStatus);
    statusRow->addStretch(1);
    statusRow->addWidget(m_uploadPercent);
    layout->addLayout(statusRow);

    auto *detailRow = new QHBoxLayout;
    auto *name = makeElidedLabel(page, TextStyle::caption);
    name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_uploadFileName = name;
    m_uploadSpeed = makeLabel(page, TextStyle::caption, true);
    detailRow->addWidget(m_uploadFileName, 1);
    detailRow->addWidget(m_uploadSpeed);
    layout->addLayout(detailRow);
    layout->addStretch(1);
    return page;
}

QWidget *ShareView::buildSuccessPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = pageLayout(page, 12);
    auto *icon = new QLabel(page);
    icon->setObjectName(QStringLiteral("successIcon"));
    icon->setPixmap(shareicons::checkmarkCircle(statusIconSize, successGreen, devicePixelRatioF()));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    // The title and its line belong together; the 12-point rhythm is between
    // the icon, this pair and the button.
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_successTitle = makeLabel(page, TextStyle::headline, false);
    m_successTitle->setAlignment(Qt::AlignHCenter);
    // The copy confirmation, or the link itself while it is not copied.
    m_successCopied = makeElidedLabel(page, TextStyle::caption);
    m_successCopied->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    texts->addWidget(m_successTitle);
    texts->addWidget(m_successCopied);
    layout->addLayout(texts);

    m_copyButton = new QPushButton(page);
    m_copyButton->setIcon(
        QIcon(shareicons::twoDocuments(16, palette().color(QPalette::ButtonText), devicePixelRatioF())));
    m_copyButton->setAutoDefault(false);
    layout->addWidget(m_copyButton, 0, Qt::AlignHCenter);
    connect(m_copyButton, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->copyURL();
    });
    layout->addStretch(1);
    return page;
}

QWidget *ShareView::buildErrorPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = pageLayout(page, 12);
    auto *icon = new QLabel(page);
    icon->setObjectName(QStringLiteral("errorIcon"));
    icon->setPixmap(shareicons::warningTriangle(statusIconSize, failureRed, devicePixelRatioF()));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_errorTitle = makeLabel(page, TextStyle::headline, false);
    m_errorTitle->setAlignment(Qt::AlignHCenter);
    auto *message = new WrappedMessage(page);
    message->setFont(fontFor(message->font(), TextStyle::caption));
    QPalette palette = message->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    message->setPalette(palette);
    m_errorMessage = message;
    texts->addWidget(m_errorTitle);
    texts->addWidget(m_errorMessage);
    layout->addLayout(texts);
    layout->addStretch(1);
    return page;
}

void ShareView::renderProductIcon()
{
    m_productIcon->setPixmap(shareicons::paperPlane(fontFor(font(), TextStyle::title2).pointSize() + 4,
                                                    palette().color(QPalette::Highlight),
                                                    devicePixelRatioF()));
}

void ShareView::render()
{
    m_productName->setText(localizedText("Sendova"));
    if (!m_model)
        return;

    const int filesLeftOut = m_model->filesLeftOut();
    static_cast<ElidedLabel *>(m_filesNote)
        ->setFullText(filesLeftOut > 0 ? localizedFormat("share.note.first_file_only", filesLeftOut + 1)
                                       : QString());
    m_filesNote->setVisible(filesLeftOut > 0);

    const ShareState state = m_model->state();
    const std::optional<QString> fileName = m_model->fileName();
    using Kind = ShareState::Kind;

    switch (state.kind()) {
    case Kind::idle:
        m_idleStatus->setText(localizedText("share.status.preparing"));
        m_content->setCurrentWidget(m_idlePage);
        break;
    case Kind::loading:
        m_loadingStatus->setText(localizedText("share.status.loading"));
        m_content->setCurrentWidget(m_loadingPage);
        break;
    case Kind::hashing:
        m_hashBar->setValue(barValue(m_model->hashProgress()));
        m_hashStatus->setText(localizedText("share.status.hashing"));
        static_cast<ElidedLabel *>(m_hashFileName)->setFullText(fileName.value_or(QString()));
        m_hashFileName->setVisible(fileName.has_value());
        m_content->setCurrentWidget(m_hashingPage);
        break;
    case Kind::uploading: {
        const double progress = m_model->uploadProgress();
        m_uploadBar->setValue(barValue(progress));
        m_uploadStatus->setText(localizedText("share.status.uploading"));
        // The whole part only: 99.9 % is not done yet.
        m_uploadPercent->setText(QString::number(qint64(std::floor(progress * 100))) + QLatin1Char('%'));
        static_cast<ElidedLabel *>(m_uploadFileName)->setFullText(fileName.value_or(QString()));
        m_uploadFileName->setVisible(fileName.has_value());
        const double speed = m_model->uploadSpeed();
        m_uploadSpeed->setText(speed > 0 ? ShareViewModel::formatSpeed(speed) : QString());
        m_uploadSpeed->setVisible(speed > 0);
        m_content->setCurrentWidget(m_uploadingPage);
        break;
    }
    case Kind::success:
        m_successTitle->setText(localizedText("share.status.uploaded"));
        static_cast<ElidedLabel *>(m_successCopied)
            ->setFullText(m_model->linkCopied() ? localizedText("share.url.copied") : state.text());
        m_copyButton->setText(localizedText("share.button.copy_url"));
        m_content->setCurrentWidget(m_successPage);
        break;
    case Kind::error:
        m_errorTitle->setText(localizedText("share.error.title"));
        static_cast<WrappedMessage *>(m_errorMessage)->setMessage(state.text());
        m_content->setCurrentWidget(m_errorPage);
        break;
    }

    m_endButton->setText(state.isFinal() ? localizedText("share.button.close")
                                         : localizedText("share.button.cancel"));
    m_endButton->setDefault(state.kind() == Kind::success);
}

void ShareView::endButtonClicked()
{
    if (!m_model)
        return;
    // Closing after a failure still cancels the request: only a success
    // completes it.
    if (m_model->state().kind() == ShareState::Kind::success)
        m_model->complete();
    else
        m_model->cancel();
}

void ShareView::keyPressEvent(QKeyEvent *event)
{
    if (m_model && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        const ShareState::Kind kind = m_model->state().kind();
        const bool running = !m_model->state().isFinal();
        if (event->key() == Qt::Key_Escape && running) {
            m_model->cancel();
            return;
        }
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            kind == ShareState::Kind::success) {
            m_model->complete();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void ShareView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        renderProductIcon();
        render();
    }
    QWidget::changeEvent(event);
}

} // namespace sendova
