#include "ui/MenuBarView.h"

#include "model/AppViewModel.h"
#include "platform/UrlOpener.h"
#include "support/ErrorReport.h"
#include "ui/DropZoneView.h"
#include "ui/ErrorPanel.h"
#include "ui/Localized.h"
#include "ui/RecentUploadRow.h"
#include "ui/ResultView.h"
#include "ui/SettingsView.h"
#include "ui/SetupView.h"
#include "ui/UploadProgressView.h"
#include "widgets/Divider.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"
#include "widgets/WrappedMessage.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <type_traits>

namespace sendova {

namespace {

constexpr int margin = 16;
constexpr int headerSymbolSize = 18;
constexpr int bannerSymbolSize = 14;
constexpr int bannerLines = 4;

// The footer's quit line: the action on the left, its shortcut on the
// right, like a menu item.
class FooterButton : public QAbstractButton
{
public:
    explicit FooterButton(QWidget *parent) : QAbstractButton(parent)
    {
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

    // The hint is the desktop's way of writing the shortcut, in every language.
    static QString hint() { return QStringLiteral("Ctrl+Q"); }

    QSize sizeHint() const override
    {
        const QFontMetrics caption(fontFor(font(), TextStyle::caption));
        return {fontMetrics().horizontalAdvance(text()) + 16 + caption.horizontalAdvance(hint()) + 2 * margin,
                fontMetrics().height() + 2 * 8};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QColor secondary = secondaryColor(palette());
        const bool lit = underMouse() || hasFocus();
        if (lit)
            painter.fillRect(rect(), hairlineColor(palette()));
        const QRect area = rect().adjusted(margin, 0, -margin, 0);
        painter.setPen(lit ? palette().color(QPalette::WindowText) : secondary);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text());
        const QFont caption = fontFor(font(), TextStyle::caption);
        painter.setFont(caption);
        painter.setPen(secondary);
        painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter, hint());
    }
};

// A small text button in the secondary colour, like a link in a list header.
QToolButton *textButton(QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(fontFor(button->font(), TextStyle::caption));
    setSecondary(button);
    return button;
}

} // namespace

MenuBarView::MenuBarView(AppViewModel *viewModel, QWidget *parent) : QWidget(parent), m_viewModel(viewModel)
{
    setFixedWidth(viewWidth);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(new Divider(this));
    layout->addWidget(buildBanner());

    m_bodyLayout = new QVBoxLayout;
    m_bodyLayout->setContentsMargins(0, 0, 0, 0);
    m_bodyLayout->setSpacing(0);
    layout->addLayout(m_bodyLayout);

    m_idle = buildIdleBody();
    m_bodyLayout->addWidget(m_idle);
    m_progress = new UploadProgressView(this);
    m_progress->setOnCancel([this] {
        if (m_viewModel)
            m_viewModel->cancelUpload();
    });
    m_bodyLayout->addWidget(m_progress);
    m_error = new ErrorPanel(this);
    m_error->setOnTryAgain([this] {
        // Back to the drop zone: the failed file is not sent again.
        if (m_viewModel)
            m_viewModel->dismissResult();
    });
    m_error->setOnReportError([] { composeErrorReport([](const QUrl &link) { UrlOpener::open(link); }); });
    m_bodyLayout->addWidget(m_error);

    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &MenuBarView::quitRequested);

    if (m_viewModel) {
        connect(m_viewModel, &AppViewModel::uploadProgressChanged, this, &MenuBarView::renderBody);
        connect(m_viewModel, &AppViewModel::recentUploadsChanged, this, &MenuBarView::renderRecents);
        connect(m_viewModel, &AppViewModel::errorMessageChanged, this, &MenuBarView::renderBanner);
        connect(m_viewModel, &AppViewModel::showSettingsChanged, this, &MenuBarView::presentSheets);
        connect(m_viewModel, &AppViewModel::showSetupChanged, this, &MenuBarView::presentSheets);
    }
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &MenuBarView::render);
    renderSymbols();
    render();
    renderRecents();
    renderBody();
    renderBanner();
    // Once the host has had its chance to show the view: a setup wanted from
    // the start then knows whether it has a popover to cover.
    QTimer::singleShot(0, this, &MenuBarView::presentSheets);
}

MenuBarView::~MenuBarView()
{
    // The sheets shown as windows of their own have no parent to take them.
    delete m_settingsSheet.data();
    delete m_setupSheet.data();
}

QWidget *MenuBarView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(margin, 10, 10, 10);
    row->setSpacing(8);
    m_mark = new QLabel(header);
    // The product's name, the same in every language.
    auto *title = makeLabel(header, TextStyle::headline, false);
    title->setText(QStringLiteral("Sendova"));
    m_settings = new QToolButton(header);
    m_settings->setAutoRaise(true);
    m_settings->setIconSize(QSize(16, 16));
    m_settings->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_mark, 0, Qt::AlignVCenter);
    row->addWidget(title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_settings, 0, Qt::AlignVCenter);
    connect(m_settings, &QToolButton::clicked, this, [this] {
        if (m_viewModel)
            m_viewModel->setShowSettings(true);
    });
    return header;
}

QWidget *MenuBarView::buildBanner()
{
    m_banner = new QWidget(this);
    auto *stack = new QVBoxLayout(m_banner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(margin, 10, 10, 10);
    row->setSpacing(8);
    m_bannerSymbol = new QLabel(m_banner);
    m_bannerMessage = new WrappedMessage(m_banner);
    m_bannerMessage->setLineAlignment(Qt::AlignLeft);
    m_bannerMessage->setMaximumLines(bannerLines);
    m_bannerMessage->setFont(fontFor(font(), TextStyle::caption));
    m_bannerDismiss = new QToolButton(m_banner);
    m_bannerDismiss->setAutoRaise(true);
    m_bannerDismiss->setIconSize(QSize(bannerSymbolSize, bannerSymbolSize));
    m_bannerDismiss->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_bannerSymbol, 0, Qt::AlignTop);
    row->addWidget(m_bannerMessage, 1);
    row->addWidget(m_bannerDismiss, 0, Qt::AlignTop);
    stack->addLayout(row);
    stack->addWidget(new Divider(m_banner));
    connect(m_bannerDismiss, &QToolButton::clicked, this, [this] {
        if (m_viewModel)
            m_viewModel->setErrorMessage(std::nullopt);
    });
    return m_banner;
}

void MenuBarView::renderBanner()
{
    const std::optional<QString> message = m_viewModel ? m_viewModel->errorMessage() : std::nullopt;
    m_bannerMessage->setMessage(message.value_or(QString()));
    m_banner->setVisible(message.has_value());
}

SettingsView *MenuBarView::settingsView() const
{
    return m_settingsSheet;
}

SetupView *MenuBarView::setupView() const
{
    return m_setupSheet;
}

bool MenuBarView::hasSheet() const
{
    return m_settingsSheet || m_setupSheet;
}

template<typename Sheet>
void MenuBarView::presentSheet(QPointer<Sheet> &sheet, bool wanted)
{
    if (wanted && !sheet) {
        // Over the popover when it is on screen; on its own when not. The
        // setup always stands alone: without an account there is nothing
        // for the popover to offer, and closing the setup ends the program.
        const bool over = isVisible() && !std::is_same_v<Sheet, SetupView>;
        sheet = new Sheet(m_viewModel, over ? window() : nullptr);
        // A sheet is a window of its own, out of reach of the popover's Ctrl+Q.
        connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), sheet), &QShortcut::activated, this,
                &MenuBarView::quitRequested);
        sheet->present();
    } else if (!wanted && sheet) {
        // Later: the sheet's own button may be what brought us here.
        sheet->hide();
        sheet->deleteLater();
        sheet = nullptr;
    }
}

void MenuBarView::presentSheets()
{
    if (!m_viewModel)
        return;
    const bool before = hasSheet();
    const bool setupWasShown = m_setupSheet;
    presentSheet(m_settingsSheet, m_viewModel->showSettings());
    presentSheet(m_setupSheet, m_viewModel->showSetup());
    if (m_setupSheet && !setupWasShown)
        connect(m_setupSheet, &SetupView::quitRequested, this, &MenuBarView::quitRequested);
    if (hasSheet() != before)
        Q_EMIT hasSheetChanged(hasSheet());
}

QWidget *MenuBarView::buildIdleBody()
{
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *zone = new QVBoxLayout;
    zone->setContentsMargins(margin, margin, margin, margin);
    m_dropZone = new DropZoneView(m_viewModel, body);
    zone->addWidget(m_dropZone);
    layout->addLayout(zone);

    m_recentDivider = new Divider(body);
    layout->addWidget(m_recentDivider);
    m_recentSection = new QWidget(body);
    auto *section = new QVBoxLayout(m_recentSection);
    section->setContentsMargins(8, 10, 8, 12);
    section->setSpacing(8);
    auto *heading = new QHBoxLayout;
    heading->setContentsMargins(8, 0, 0, 0);
    m_recentTitle = makeLabel(m_recentSection, TextStyle::subheadline, true);
    m_clear = textButton(m_recentSection);
    heading->addWidget(m_recentTitle, 0, Qt::AlignVCenter);
    heading->addStretch(1);
    heading->addWidget(m_clear, 0, Qt::AlignVCenter);
    section->addLayout(heading);
    m_recentRows = new QVBoxLayout;
    m_recentRows->setContentsMargins(0, 0, 0, 0);
    m_recentRows->setSpacing(8);
    section->addLayout(m_recentRows);
    layout->addWidget(m_recentSection);
    // No confirmation: the list is a convenience, the links live on the server.
    connect(m_clear, &QToolButton::clicked, this, [this] {
        if (m_viewModel)
            m_viewModel->clearRecentUploads();
    });

    layout->addWidget(new Divider(body));
    m_footer = new FooterButton(body);
    layout->addWidget(m_footer);
    connect(static_cast<FooterButton *>(m_footer), &QAbstractButton::clicked, this,
            &MenuBarView::quitRequested);
    return body;
}

ResultView *MenuBarView::resultView() const
{
    return m_result;
}

QList<QWidget *> MenuBarView::recentRows() const
{
    QList<QWidget *> rows;
    for (int i = 0; i < m_recentRows->count(); ++i) {
        if (QWidget *row = m_recentRows->itemAt(i)->widget())
            rows << row;
    }
    return rows;
}

void MenuBarView::renderBody()
{
    if (!m_viewModel)
        return;
    const UploadProgress &progress = m_viewModel->uploadProgress();
    const UploadState &state = progress.state;
    using Case = UploadState::Case;
    const Case shown = state.stateCase();
    const bool busy = shown == Case::hashing || shown == Case::checkingDuplicate || shown == Case::uploading;

    const auto *completed = state.get<UploadState::Completed>();
    // A result view shows one result for its whole life: another one gets a
    // view of its own.
    const bool sameResult = completed && m_result && m_result->url() == completed->url &&
                            m_result->isDuplicate() == completed->isDuplicate &&
                            m_result->fileName() == progress.fileName;
    if (m_result && !sameResult) {
        // Deleted later: its own OK button may be what brought us here.
        m_result->hide();
        m_result->deleteLater();
        m_result = nullptr;
    }
    if (completed && !m_result) {
        m_result = new ResultView(
            completed->url, completed->isDuplicate, progress.fileName, m_viewModel,
            [this] {
                if (m_viewModel)
                    m_viewModel->dismissResult();
            },
            this);
        m_bodyLayout->addWidget(m_result);
    }
    if (busy)
        m_progress->setProgress(progress);
    if (const auto *failed = state.get<UploadState::Failed>()) {
        // The server's own explanation, when it gave one, under our line.
        const std::optional<UploadFailure> &cause = m_viewModel->lastFailure();
        const bool explained =
            cause && cause->description == failed->message && !cause->explanation.isEmpty();
        m_error->setMessage(explained ? failed->message + QLatin1Char('\n') + cause->explanation
                                      : failed->message);
    }

    m_idle->setVisible(shown == Case::idle);
    m_progress->setVisible(busy);
    m_error->setVisible(shown == Case::failed);
    if (m_result)
        m_result->setVisible(true);
}

void MenuBarView::renderRecents()
{
    while (QLayoutItem *item = m_recentRows->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    const QList<RecentUpload> uploads = m_viewModel ? m_viewModel->recentUploads() : QList<RecentUpload>();
    for (const RecentUpload &upload : uploads)
        m_recentRows->addWidget(new RecentUploadRow(upload, m_viewModel, m_recentSection));
    m_recentDivider->setVisible(!uploads.isEmpty());
    m_recentSection->setVisible(!uploads.isEmpty());
}

void MenuBarView::render()
{
    const QString settings = ui::text("menu.settings");
    m_settings->setToolTip(settings);
    m_settings->setAccessibleName(settings);
    m_recentTitle->setText(ui::text("menu.recent"));
    m_clear->setText(ui::text("menu.clear"));
    static_cast<FooterButton *>(m_footer)->setText(ui::text("menu.quit"));
    m_bannerDismiss->setToolTip(ui::text("menu.dismiss"));
    m_bannerDismiss->setAccessibleName(m_bannerDismiss->toolTip());
}

void MenuBarView::renderSymbols()
{
    m_mark->setPixmap(
        symbolPixmap(Symbol::appMark, headerSymbolSize, accentColor(palette()), devicePixelRatioF()));
    m_settings->setIcon(symbolIcon(Symbol::gear, secondaryColor(palette()), 16, devicePixelRatioF()));
    m_bannerSymbol->setPixmap(
        symbolPixmap(Symbol::warning, bannerSymbolSize, failureRed(palette()), devicePixelRatioF()));
    m_bannerDismiss->setIcon(
        symbolIcon(Symbol::xmarkCircle, secondaryColor(palette()), bannerSymbolSize, devicePixelRatioF()));
}

void MenuBarView::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_mark)
        renderSymbols();
    QWidget::changeEvent(event);
}

} // namespace sendova
