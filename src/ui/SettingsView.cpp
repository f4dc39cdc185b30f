#include "ui/SettingsView.h"

#include "model/AppViewModel.h"
#include "model/SettingsModel.h"
#include "ui/ConnectionStatusView.h"
#include "ui/Localized.h"
#include "ui/SheetFrame.h"
#include "widgets/BorderedButton.h"
#include "widgets/SectionBox.h"
#include "widgets/SecureField.h"
#include "widgets/SegmentedControl.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace sendova {

namespace {

constexpr int margin = 20;
constexpr int fieldWidth = 250;
constexpr int closeSymbolSize = 18;
// Left free above and below a sheet that grows to fit its content: room for
// a title bar and a panel.
constexpr int screenMargin = 80;

} // namespace

SettingsView::SettingsView(AppViewModel *viewModel, QWidget *parent)
    : QDialog(parent), m_viewModel(viewModel),
      m_model(new SettingsModel(*viewModel, LoginService::shared(), this))
{
    // The smallest it gets; on a screen with room it grows to show every
    // section, "Sign out" included, without scrolling.
    setMinimumSize(sheetWidth, sheetHeight);
    resize(sheetWidth, sheetHeight);
    // One after the other: the order of creation is the order of the Tab key.
    QWidget *header = buildHeader();
    QWidget *sections = buildSections();
    sheet::frame(this, header, sections, buildFooter());
    sheet::addShortcuts(this, &SettingsView::save, &SettingsView::cancel);

    connect(m_viewModel, &AppViewModel::configChanged, this, &SettingsView::renderConfig);
    connect(m_model, &SettingsModel::languageChanged, this, &SettingsView::renderConfig);
    connect(m_model, &SettingsModel::testingConnectionChanged, this, &SettingsView::renderStatus);
    connect(m_model, &SettingsModel::connectionStatusChanged, this, &SettingsView::renderStatus);
    connect(m_model, &SettingsModel::isTestButtonDisabledChanged, this, &SettingsView::renderStatus);
    connect(m_model, &SettingsModel::showServerFieldChanged, this, &SettingsView::renderConfig);
    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &SettingsView::render);
    renderSymbols();
    render();
    renderConfig();
    renderStatus();
}

QWidget *SettingsView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(margin, 10, 12, 10);
    m_title = makeLabel(header, TextStyle::headline, false);
    m_close = new QToolButton(header);
    m_close->setAutoRaise(true);
    m_close->setIconSize(QSize(closeSymbolSize, closeSymbolSize));
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->setFocusPolicy(Qt::TabFocus);
    row->addWidget(m_title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_close, 0, Qt::AlignVCenter);
    // Closes only: the edits stay in memory, unsaved.
    connect(m_close, &QToolButton::clicked, this, [this] {
        if (!m_finishing)
            m_model->close();
    });
    return header;
}

SectionBox *SettingsView::section(QWidget *parent, int spacing)
{
    auto *box = new SectionBox(parent, spacing);
    parent->layout()->addWidget(box);
    return box;
}

QCheckBox *SettingsView::toggle(QWidget *parent, bool AppConfig::*field)
{
    auto *box = new QCheckBox(parent);
    connect(box, &QCheckBox::clicked, this, [this, field](bool checked) {
        edit([field, checked](AppConfig &config) { config.*field = checked; });
    });
    m_behavior->content()->addWidget(box);
    return box;
}

QWidget *SettingsView::buildSections()
{
    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *sections = new QWidget(scroll);
    sections->setBackgroundRole(QPalette::Window);
    auto *stack = new QVBoxLayout(sections);
    stack->setContentsMargins(margin, margin, margin, margin);
    stack->setSpacing(20);

    m_connection = section(sections, 12);
    auto *fields = new QGridLayout;
    fields->setHorizontalSpacing(12);
    fields->setVerticalSpacing(12);
    fields->setColumnStretch(2, 1);
    m_serverLabel = new QLabel(m_connection);
    m_server = new QLineEdit(m_connection);
    m_server->setFixedWidth(fieldWidth);
    m_server->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    m_serverLabel->setBuddy(m_server);
    m_apiKeyLabel = new QLabel(m_connection);
    m_apiKey = new SecureField(m_connection);
    m_apiKey->setFixedWidth(fieldWidth);
    m_apiKeyLabel->setBuddy(m_apiKey);
    fields->addWidget(m_serverLabel, 0, 0);
    fields->addWidget(m_server, 0, 1);
    // The environment's server wins over the field: say so under it.
    m_serverNote = makeLabel(m_connection, TextStyle::caption, true);
    fields->addWidget(m_serverNote, 1, 1);
    fields->addWidget(m_apiKeyLabel, 2, 0);
    fields->addWidget(m_apiKey, 2, 1);
    m_connection->content()->addLayout(fields);
    auto *test = new QHBoxLayout;
    test->setSpacing(10);
    m_test = new BorderedButton(m_connection);
    m_status = new ConnectionStatusView(m_connection);
    test->addWidget(m_test, 0, Qt::AlignVCenter);
    test->addWidget(m_status, 1, Qt::AlignVCenter);
    m_connection->content()->addLayout(test);
    connect(m_server, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&text](AppConfig &config) { config._serverUrl = text; }); });
    connect(m_apiKey, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&text](AppConfig &config) { config.apiKey = text; }); });
    connect(m_test, &QPushButton::clicked, this, [this] { m_model->testConnection(); });

    m_behavior = section(sections, 8);
    m_notifications = toggle(m_behavior, &AppConfig::showNotifications);
    m_clipboard = toggle(m_behavior, &AppConfig::autoCopyToClipboard);
    m_duplicates = toggle(m_behavior, &AppConfig::checkForDuplicates);
    m_startup = toggle(m_behavior, &AppConfig::launchAtLogin);

    m_languageSection = section(sections, 8);
    auto *language = new QHBoxLayout;
    language->setSpacing(12);
    m_languageLabel = new QLabel(m_languageSection);
    m_language = new SegmentedControl(m_languageSection);
    QStringList names;
    for (const Language each : allLanguages())
        names << languageDisplayName(each);
    m_language->setSegments(names);
    language->addWidget(m_languageLabel, 0, Qt::AlignVCenter);
    language->addWidget(m_language, 0, Qt::AlignVCenter);
    language->addStretch(1);
    m_languageSection->content()->addLayout(language);
    connect(m_language, &SegmentedControl::activated, this,
            [this](int index) { m_model->setLanguage(allLanguages().value(index, Language::english)); });

    m_danger = section(sections, 8);
    m_logout = new BorderedButton(m_danger);
    m_logout->setFont(fontFor(m_logout->font(), TextStyle::subheadline));
    m_danger->content()->addWidget(m_logout, 0, Qt::AlignLeft);
    connect(m_logout, &QPushButton::clicked, this, &SettingsView::logout);

    stack->addStretch(1);
    scroll->setWidget(sections);
    return scroll;
}

QWidget *SettingsView::buildFooter()
{
    QWidget *footer = sheet::buttonRow(this, &m_cancel, &m_save);
    connect(m_cancel, &QPushButton::clicked, this, &SettingsView::cancel);
    connect(m_save, &QPushButton::clicked, this, &SettingsView::save);
    return footer;
}

QList<QCheckBox *> SettingsView::toggles() const
{
    return {m_notifications, m_clipboard, m_duplicates, m_startup};
}

void SettingsView::present()
{
    m_model->present(sheet::altHeld());
    fitToContent();
    sheet::bringUp(this);
}

void SettingsView::fitToContent()
{
    layout()->activate();
    // The scroll area asks for a fraction of its content; the sheet wants all of it.
    const int wanted =
        sizeHint().height() - m_scroll->sizeHint().height() + m_scroll->widget()->sizeHint().height();
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : this->screen();
    const int room = screen ? screen->availableGeometry().height() - screenMargin : wanted;
    resize(width(), std::max(sheetHeight, std::min(wanted, room)));
}

void SettingsView::edit(const std::function<void(AppConfig &)> &change)
{
    if (!m_viewModel)
        return;
    AppConfig config = m_viewModel->config();
    change(config);
    m_viewModel->setConfig(config);
}

void SettingsView::finish(const std::function<void()> &action)
{
    if (m_finishing)
        return;
    m_finishing = true;
    for (QWidget *button : {static_cast<QWidget *>(m_cancel), static_cast<QWidget *>(m_save),
                            static_cast<QWidget *>(m_logout), static_cast<QWidget *>(m_close)})
        button->setEnabled(false);
    action();
}

void SettingsView::save()
{
    finish([this] { m_model->save(); });
}

void SettingsView::cancel()
{
    finish([this] { m_model->cancel(); });
}

void SettingsView::logout()
{
    // No confirmation: the account is one login away.
    finish([this] { m_model->logout(); });
}

void SettingsView::reject()
{
    cancel();
}

void SettingsView::closeEvent(QCloseEvent *event)
{
    // The sheet goes when the view model says so; the presenter takes it away.
    event->ignore();
    if (!m_finishing)
        m_model->close();
}

void SettingsView::render()
{
    setWindowTitle(ui::text("settings.title"));
    m_title->setText(ui::text("settings.title"));
    m_close->setToolTip(ui::text("settings.button.close"));
    m_close->setAccessibleName(m_close->toolTip());
    m_connection->setTitle(ui::text("settings.section.connection"));
    m_serverLabel->setText(ui::text("settings.server.label"));
    m_serverNote->setText(
        ui::text("server.override_note").arg(qEnvironmentVariable(AppConfig::serverOverrideVariable)));
    m_apiKeyLabel->setText(ui::text("settings.api_key.label"));
    m_apiKey->setRevealTexts(ui::text("field.secret.show"), ui::text("field.secret.hide"));
    m_test->setText(ui::text("settings.button.test_connection"));
    m_behavior->setTitle(ui::text("settings.section.behavior"));
    m_notifications->setText(ui::text("settings.notifications.toggle"));
    m_clipboard->setText(ui::text("settings.clipboard.toggle"));
    m_duplicates->setText(ui::text("settings.duplicates.toggle"));
    m_startup->setText(ui::text("settings.startup.toggle"));
    m_languageSection->setTitle(ui::text("settings.section.language"));
    m_languageLabel->setText(ui::text("settings.language.label"));
    m_danger->setTitle(ui::text("settings.section.danger"));
    m_logout->setText(ui::text("settings.button.logout"));
    m_cancel->setText(ui::text("settings.button.cancel"));
    m_save->setText(ui::text("settings.button.save"));
}

void SettingsView::renderConfig()
{
    if (!m_viewModel)
        return;
    const AppConfig &config = m_viewModel->config();
    const bool serverShown = m_model->showServerField();
    m_serverLabel->setVisible(serverShown);
    m_server->setVisible(serverShown);
    m_serverNote->setVisible(serverShown && AppConfig::hasServerOverride());
    sheet::follow(m_server, config._serverUrl);
    sheet::follow(m_apiKey, config.apiKey);
    m_notifications->setChecked(config.showNotifications);
    m_clipboard->setChecked(config.autoCopyToClipboard);
    m_duplicates->setChecked(config.checkForDuplicates);
    m_startup->setChecked(config.launchAtLogin);
    m_language->setCurrentIndex(int(allLanguages().indexOf(m_model->language())));
}

void SettingsView::renderStatus()
{
    m_test->setEnabled(!m_model->isTestButtonDisabled());
    m_status->setStatus(m_model->connectionStatus(), m_model->testingConnection());
}

void SettingsView::renderSymbols()
{
    m_close->setIcon(
        symbolIcon(Symbol::xmarkCircle, secondaryColor(palette()), closeSymbolSize, devicePixelRatioF()));
    QPalette red = m_logout->palette();
    red.setColor(QPalette::ButtonText, failureRed(palette()));
    m_logout->setPalette(red);
}

void SettingsView::changeEvent(QEvent *event)
{
    // Built widgets only: a palette can arrive while the constructor runs.
    if (event->type() == QEvent::PaletteChange && m_logout)
        renderSymbols();
    QDialog::changeEvent(event);
}

} // namespace sendova
