#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace sendova {

struct AppConfig;
class AppViewModel;
class ConnectionStatusView;
class SecureField;
class SectionBox;
class SegmentedControl;
class SettingsModel;

// The settings sheet. Every field edits the view model's configuration in
// memory at once; Save writes it, Cancel (Escape, Ctrl+Escape) reads it back
// from disk, and the header's close button (or the window's) just closes.
// A window-modal dialog over the window it is given, or an ordinary window
// without one.
class SettingsView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 450;
    static constexpr int sheetHeight = 500;

    explicit SettingsView(AppViewModel *viewModel, QWidget *parent = nullptr);

    SettingsModel *model() const { return m_model; }
    // Starts the sheet's state over (the server row shows when Alt is held
    // now) and shows it.
    void present();

    // Exposed for the tests and the screenshots.
    QToolButton *closeButton() const { return m_close; }
    QLineEdit *serverField() const { return m_server; }
    SecureField *apiKeyField() const { return m_apiKey; }
    QPushButton *testButton() const { return m_test; }
    ConnectionStatusView *statusView() const { return m_status; }
    // In the order of the behavior section.
    QList<QCheckBox *> toggles() const;
    SegmentedControl *languagePicker() const { return m_language; }
    QPushButton *logoutButton() const { return m_logout; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *saveButton() const { return m_save; }

protected:
    // The window's close button is the header's.
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

public Q_SLOTS:
    // Escape.
    void reject() override;

private:
    QWidget *buildHeader();
    QWidget *buildSections();
    QWidget *buildFooter();
    SectionBox *section(QWidget *parent, int spacing);
    QCheckBox *toggle(QWidget *parent, bool AppConfig::*field);
    void edit(const std::function<void(AppConfig &)> &change);
    // The actions that end in the sheet closing: one at a time, and nothing
    // else once one runs.
    void finish(const std::function<void()> &action);
    void save();
    void cancel();
    void logout();

    void fitToContent();
    void render();
    void renderConfig();
    void renderStatus();
    void renderSymbols();

    QPointer<AppViewModel> m_viewModel;
    SettingsModel *m_model = nullptr;
    bool m_finishing = false;

    QLabel *m_title = nullptr;
    QToolButton *m_close = nullptr;
    QScrollArea *m_scroll = nullptr;
    SectionBox *m_connection = nullptr;
    QLabel *m_serverLabel = nullptr;
    QLineEdit *m_server = nullptr;
    QLabel *m_serverNote = nullptr;
    QLabel *m_apiKeyLabel = nullptr;
    SecureField *m_apiKey = nullptr;
    QPushButton *m_test = nullptr;
    ConnectionStatusView *m_status = nullptr;
    SectionBox *m_behavior = nullptr;
    QCheckBox *m_notifications = nullptr;
    QCheckBox *m_clipboard = nullptr;
    QCheckBox *m_duplicates = nullptr;
    QCheckBox *m_startup = nullptr;
    SectionBox *m_languageSection = nullptr;
    QLabel *m_languageLabel = nullptr;
    SegmentedControl *m_language = nullptr;
    SectionBox *m_danger = nullptr;
    QPushButton *m_logout = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_save = nullptr;
};

} // namespace sendova
