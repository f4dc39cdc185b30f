#include "share/ShareView.h"

#include "share/ShareViewModel.h"
#include "support/LocalizationService.h"
#include "widgets/BusySpinner.h"
#include "widgets/DrawnIcons.h"
#include "widgets/ElidedLabel.h"
#include "widgets/TextStyle.h"
#include "widgets/WrappedMessage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
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

QString localizedText(const char *key)
{
    return LocalizationService::shared().localized(key);
}

ElidedLabel *makeElidedLabel(QWidget *parent, TextStyle style)
{
    auto *label = new ElidedLabel(parent);
    label->setFont(fontFor(label->font(), style));
    setSecondary(label);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return label;
}

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
    icon->setPixmap(drawnicons::checkmarkCircle(statusIconSize, QColor(52, 199, 89), devicePixelRatioF()));
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
        QIcon(drawnicons::twoDocuments(16, palette().color(QPalette::ButtonText), devicePixelRatioF())));
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
    icon->setPixmap(drawnicons::warningTriangle(statusIconSize, QColor(255, 59, 48), devicePixelRatioF()));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_errorTitle = makeLabel(page, TextStyle::headline, false);
    m_errorTitle->setAlignment(Qt::AlignHCenter);
    auto *message = new WrappedMessage(page);
    message->setFont(fontFor(message->font(), TextStyle::caption));
    setSecondary(message);
    m_errorMessage = message;
    texts->addWidget(m_errorTitle);
    texts->addWidget(m_errorMessage);
    layout->addLayout(texts);
    layout->addStretch(1);
    return page;
}

void ShareView::renderProductIcon()
{
    m_productIcon->setPixmap(drawnicons::paperPlane(fontFor(font(), TextStyle::title2).pointSize() + 4,
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
