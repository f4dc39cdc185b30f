#pragma once

#include "model/SetupModel.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sendova {

class AppViewModel;
class LoadingOverlay;
class SecureField;
class SegmentedControl;
class WrappedMessage;

// The first-run sheet: connects the program to a server by logging in or
// with an API key. While a request runs, an overlay covers it; a failure
// stays in the sheet for the user to correct; a success closes it through
// the view model. Cancel (Escape, Ctrl+Escape, the window's close button)
// asks whoever hosts it to end the program. A window-modal dialog over the
// window it is given, or an ordinary window centred on the screen without
// one (the first start, with no popover yet).
class SetupView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 400;
    // Login asks for two fields, the key for one; the server field adds a row.
    static int sheetHeight(SetupMode mode, bool serverField);
    // The picker's title of each mode.
    static QString modeTitle(SetupMode mode);

    explicit SetupView(AppViewModel *viewModel, QWidget *parent = nullptr);

    SetupModel *model() const { return m_model; }
    // Starts the fields over (the server field shows when Alt is held now)
    // and shows the sheet.
    void present();

    // Exposed for the tests and the screenshots.
    SegmentedControl *modePicker() const { return m_mode; }
    QLineEdit *serverField() const { return m_server; }
    QLineEdit *usernameField() const { return m_username; }
    SecureField *passwordField() const { return m_password; }
    SecureField *apiKeyField() const { return m_apiKey; }
    QWidget *errorRow() const { return m_errorRow; }
    WrappedMessage *errorMessage() const { return m_error; }
    LoadingOverlay *overlay() const { return m_overlay; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *primaryButton() const { return m_primary; }

Q_SIGNALS:
    // Cancel: the program ends without saving anything.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

public Q_SLOTS:
    // Escape.
    void reject() override;

private:
    QWidget *buildHeader();
    QWidget *buildFields();
    QWidget *buildButtons();
    void submit();

    void render();
    void renderFields();
    void renderMode();
    void renderError();
    void renderLoading();
    void renderSymbols();
    // The described height, or more when the content needs it (larger
    // fonts, a long error): nothing is ever squeezed or cut.
    void fitHeight();
    // The title on one line, made smaller when a language's is too long.
    void fitTitle();

    QPointer<AppViewModel> m_viewModel;
    SetupModel *m_model = nullptr;

    QLabel *m_symbol = nullptr;
    QLabel *m_title = nullptr;
    WrappedMessage *m_subtitle = nullptr;
    SegmentedControl *m_mode = nullptr;
    QWidget *m_serverGroup = nullptr;
    QLabel *m_serverLabel = nullptr;
    QLineEdit *m_server = nullptr;
    QLabel *m_serverNote = nullptr;
    QWidget *m_usernameGroup = nullptr;
    QLabel *m_usernameLabel = nullptr;
    QLineEdit *m_username = nullptr;
    QWidget *m_passwordGroup = nullptr;
    QLabel *m_passwordLabel = nullptr;
    SecureField *m_password = nullptr;
    QWidget *m_apiKeyGroup = nullptr;
    QLabel *m_apiKeyLabel = nullptr;
    SecureField *m_apiKey = nullptr;
    QLabel *m_apiKeyHelp = nullptr;
    QWidget *m_errorRow = nullptr;
    QLabel *m_errorSymbol = nullptr;
    WrappedMessage *m_error = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_primary = nullptr;
    LoadingOverlay *m_overlay = nullptr;
};

} // namespace sendova
