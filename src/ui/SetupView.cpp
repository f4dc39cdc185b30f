#include "ui/SetupView.h"

#include "model/AppViewModel.h"
#include "ui/Localized.h"
#include "ui/SheetFrame.h"
#include "widgets/LoadingOverlay.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"
#include "widgets/WrappedMessage.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace sendova {

namespace {

constexpr int margin = 20;
constexpr int welcomeSymbolSize = 48;
constexpr int errorSymbolSize = 14;
// The server may say a lot; the tooltip has the rest.
constexpr int errorLines = 3;

// A label in the subheadline style above its field.
QWidget *fieldGroup(QWidget *parent, QLabel **label, QWidget *field, QWidget *below = nullptr)
{
    auto *group = new QWidget(parent);
    auto *stack = new QVBoxLayout(group);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    *label = makeLabel(group, TextStyle::subheadline, true);
    (*label)->setBuddy(field);
    field->setParent(group);
    stack->addWidget(*label);
    stack->addWidget(field);
    if (below) {
        below->setParent(group);
        stack->addWidget(below);
    }
    return group;
}

} // namespace

int SetupView::sheetHeight(SetupMode mode, bool serverField)
{
    return (mode == SetupMode::login ? 400 : 350) + (serverField ? 50 : 0);
}

QString SetupView::modeTitle(SetupMode mode)
{
    return ui::text(mode == SetupMode::login ? "setup.mode.login" : "setup.mode.api_key");
}

SetupView::SetupView(AppViewModel *viewModel, QWidget *parent)
    : QDialog(parent), m_viewModel(viewModel),
      m_model(new SetupModel(*viewModel, LoginService::shared(), this))
{
    m_model->setNotificationPermissionRequest(SetupModel::sessionBusPermissionRequest());
    // One after the other: the order of creation is the order of the Tab key.
    QWidget *header = buildHeader();
    QWidget *fields = buildFields();
    sheet::frame(this, header, fields, buildButtons());
    // Last, so that it lies above everything else.
    m_overlay = new LoadingOverlay(this);
    sheet::addShortcuts(this, &SetupView::submit, &SetupView::reject);

    connect(m_model, &SetupModel::setupModeChanged, this, &SetupView::renderMode);
    connect(m_model, &SetupModel::showServerFieldChanged, this, &SetupView::renderMode);
    connect(m_model, &SetupModel::serverUrlChanged, this, &SetupView::renderFields);
    connect(m_model, &SetupModel::usernameChanged, this, &SetupView::renderFields);
    connect(m_model, &SetupModel::passwordChanged, this, &SetupView::renderFields);
    connect(m_model, &SetupModel::apiKeyChanged, this, &SetupView::renderFields);
    connect(m_model, &SetupModel::isButtonDisabledChanged, this, &SetupView::renderFields);
    connect(m_model, &SetupModel::errorMessageChanged, this, &SetupView::renderError);
    connect(m_model, &SetupModel::isLoadingChanged, this, &SetupView::renderLoading);
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &SetupView::render);
    renderSymbols();
    render();
    renderFields();
    renderMode();
    renderError();
}

QWidget *SetupView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *stack = new QVBoxLayout(header);
    stack->setContentsMargins(margin, 32, margin, 24);
    stack->setSpacing(8);
    m_symbol = new QLabel(header);
    m_title = new QLabel(header);
    m_title->setAlignment(Qt::AlignCenter);
    m_subtitle = new WrappedMessage(header);
    m_subtitle->setFont(fontFor(font(), TextStyle::subheadline));
    m_subtitle->setMaximumLines(2);
    setSecondary(m_subtitle);
    stack->addWidget(m_symbol, 0, Qt::AlignHCenter);
    stack->addWidget(m_title);
    stack->addWidget(m_subtitle);
    return header;
}

QWidget *SetupView::buildFields()
{
    auto *body = new QWidget(this);
    auto *stack = new QVBoxLayout(body);
    stack->setContentsMargins(margin, 12, margin, 16);
    stack->setSpacing(16);

    m_mode = new SegmentedControl(body);
    m_mode->setSegments({modeTitle(SetupMode::login), modeTitle(SetupMode::apiKey)});
    stack->addWidget(m_mode);
    connect(m_mode, &SegmentedControl::activated, this,
            [this](int index) { m_model->setSetupMode(index == 1 ? SetupMode::apiKey : SetupMode::login); });

    m_server = new QLineEdit;
    m_server->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    m_serverNote = makeLabel(nullptr, TextStyle::caption, true);
    m_serverGroup = fieldGroup(body, &m_serverLabel, m_server, m_serverNote);
    m_username = new QLineEdit;
    // Accounts are e-mail addresses on most servers: keyboards and
    // password managers offer theirs.
    m_username->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase |
                                    Qt::ImhNoPredictiveText);
    m_usernameGroup = fieldGroup(body, &m_usernameLabel, m_username);
    m_password = new SecureField;
    m_passwordGroup = fieldGroup(body, &m_passwordLabel, m_password);
    m_apiKey = new SecureField;
    m_apiKeyHelp = makeLabel(nullptr, TextStyle::caption, true);
    m_apiKeyHelp->setWordWrap(true);
    m_apiKeyGroup = fieldGroup(body, &m_apiKeyLabel, m_apiKey, m_apiKeyHelp);

    m_errorRow = new QWidget(body);
    auto *error = new QHBoxLayout(m_errorRow);
    error->setContentsMargins(0, 0, 0, 0);
    error->setSpacing(6);
    m_errorSymbol = new QLabel(m_errorRow);
    m_error = new WrappedMessage(m_errorRow);
    m_error->setLineAlignment(Qt::AlignLeft);
    m_error->setMaximumLines(errorLines);
    m_error->setFont(fontFor(font(), TextStyle::caption));
    error->addWidget(m_errorSymbol, 0, Qt::AlignTop);
    error->addWidget(m_error, 1);

    for (QWidget *group : {m_serverGroup, m_usernameGroup, m_passwordGroup, m_apiKeyGroup, m_errorRow})
        stack->addWidget(group);
    stack->addStretch(1);

    connect(m_server, &QLineEdit::textEdited, m_model, &SetupModel::setServerUrl);
    connect(m_username, &QLineEdit::textEdited, m_model, &SetupModel::setUsername);
    connect(m_password, &QLineEdit::textEdited, m_model, &SetupModel::setPassword);
    connect(m_apiKey, &QLineEdit::textEdited, m_model, &SetupModel::setApiKey);
    return body;
}

QWidget *SetupView::buildButtons()
{
    QWidget *footer = sheet::buttonRow(this, &m_cancel, &m_primary);
    connect(m_cancel, &QPushButton::clicked, this, &SetupView::reject);
    connect(m_primary, &QPushButton::clicked, this, &SetupView::submit);
    return footer;
}

void SetupView::present()
{
    m_model->present(sheet::altHeld());
    sheet::bringUp(this);
    (m_model->setupMode() == SetupMode::login ? static_cast<QWidget *>(m_username) : m_apiKey)->setFocus();
}

void SetupView::submit()
{
    // The shortcut works past a disabled button otherwise.
    if (!m_model->isButtonDisabled())
        m_model->submit();
}

void SetupView::reject()
{
    if (!m_model->isLoading())
        Q_EMIT quitRequested();
}

void SetupView::closeEvent(QCloseEvent *event)
{
    // The window stays until the program ends; the window manager's close
    // button is Cancel, even while a request runs.
    event->ignore();
    Q_EMIT quitRequested();
}

void SetupView::render()
{
    setWindowTitle(QStringLiteral("Sendova"));
    m_title->setText(ui::text("setup.welcome.title"));
    fitTitle();
    m_subtitle->setMessage(ui::text("setup.welcome.subtitle"));
    m_mode->setSegments({modeTitle(SetupMode::login), modeTitle(SetupMode::apiKey)});
    m_serverLabel->setText(ui::text("setup.server.label"));
    m_server->setPlaceholderText(ui::text("setup.server.placeholder"));
    m_serverNote->setText(
        ui::text("server.override_note").arg(qEnvironmentVariable(AppConfig::serverOverrideVariable)));
    m_usernameLabel->setText(ui::text("setup.username.label"));
    m_username->setPlaceholderText(ui::text("setup.username.placeholder"));
    m_passwordLabel->setText(ui::text("setup.password.label"));
    m_password->setPlaceholderText(ui::text("setup.password.placeholder"));
    for (SecureField *field : {m_password, m_apiKey})
        field->setRevealTexts(ui::text("field.secret.show"), ui::text("field.secret.hide"));
    m_apiKeyLabel->setText(ui::text("setup.api_key.label"));
    m_apiKey->setPlaceholderText(ui::text("setup.api_key.placeholder"));
    m_apiKeyHelp->setText(ui::text("setup.api_key.help"));
    m_cancel->setText(ui::text("setup.button.cancel"));
    renderMode();
}

void SetupView::renderFields()
{
    sheet::follow(m_server, m_model->serverUrl());
    sheet::follow(m_username, m_model->username());
    sheet::follow(m_password, m_model->password());
    sheet::follow(m_apiKey, m_model->apiKey());
    m_primary->setEnabled(!m_model->isButtonDisabled());
}

void SetupView::renderMode()
{
    const SetupMode mode = m_model->setupMode();
    const bool login = mode == SetupMode::login;
    m_mode->setCurrentIndex(login ? 0 : 1);
    m_serverGroup->setVisible(m_model->showServerField());
    m_serverNote->setVisible(AppConfig::hasServerOverride());
    m_usernameGroup->setVisible(login);
    m_passwordGroup->setVisible(login);
    m_apiKeyGroup->setVisible(!login);
    m_primary->setText(ui::text(login ? "setup.button.login" : "setup.button.connect"));
    fitHeight();
}

void SetupView::fitHeight()
{
    const int described = sheetHeight(m_model->setupMode(), m_model->showServerField());
    // The nested layouts answer from their caches until their own layout
    // requests come round: a message set a moment ago would not count yet.
    for (QWidget *child : findChildren<QWidget *>())
        child->updateGeometry();
    for (QLayout *each : findChildren<QLayout *>())
        each->invalidate();
    layout()->invalidate();
    const int needed = layout()->totalHeightForWidth(sheetWidth);
    setFixedSize(sheetWidth, std::max(described, needed));
}

void SetupView::fitTitle()
{
    QFont font = fontFor(this->font(), TextStyle::title2);
    font.setWeight(QFont::DemiBold);
    const int room = sheetWidth - 2 * margin;
    while (font.pointSizeF() > this->font().pointSizeF() &&
           QFontMetrics(font).horizontalAdvance(m_title->text()) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    m_title->setFont(font);
}

void SetupView::renderError()
{
    const std::optional<QString> &message = m_model->errorMessage();
    m_errorRow->setVisible(message.has_value());
    m_error->setMessage(message.value_or(QString()));
    fitHeight();
}

void SetupView::renderLoading()
{
    m_overlay->setActive(m_model->isLoading());
}

void SetupView::renderSymbols()
{
    const qreal ratio = devicePixelRatioF();
    m_symbol->setPixmap(
        symbolPixmap(Symbol::appMarkFilled, welcomeSymbolSize, accentColor(palette()), ratio));
    const QColor red = failureRed(palette());
    m_errorSymbol->setPixmap(symbolPixmap(Symbol::warning, errorSymbolSize, red, ratio));
    QPalette colours = m_error->palette();
    colours.setColor(QPalette::WindowText, red);
    m_error->setPalette(colours);
}

void SetupView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_error)
        renderSymbols();
    QDialog::changeEvent(event);
}

} // namespace sendova
