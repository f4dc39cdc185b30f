#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace sendova {

class ShareViewModel;

// The whole window of the share program: a fixed 320 × 200 panel showing the
// step the upload is in, its progress, and at the end the link's copy button
// or the error, over one button that ends the request. Holds no state of its
// own: every change of the model re-renders it.
class ShareView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 320;
    static constexpr int panelHeight = 200;

    explicit ShareView(ShareViewModel *model, QWidget *parent = nullptr);

    // Exposed for the tests, which check what each state shows.
    QPushButton *endButton() const { return m_endButton; }
    QPushButton *copyButton() const { return m_copyButton; }
    QStackedWidget *content() const { return m_content; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void render();
    void renderProductIcon();
    void endButtonClicked();
    QWidget *buildSpinnerPage(QLabel **status);
    QWidget *buildHashingPage();
    QWidget *buildUploadingPage();
    QWidget *buildSuccessPage();
    QWidget *buildErrorPage();

    QPointer<ShareViewModel> m_model;
    QLabel *m_productIcon = nullptr;
    QLabel *m_productName = nullptr;
    QLabel *m_filesNote = nullptr;
    QStackedWidget *m_content = nullptr;

    QWidget *m_idlePage = nullptr;
    QLabel *m_idleStatus = nullptr;
    QWidget *m_loadingPage = nullptr;
    QLabel *m_loadingStatus = nullptr;

    QWidget *m_hashingPage = nullptr;
    QProgressBar *m_hashBar = nullptr;
    QLabel *m_hashStatus = nullptr;
    QLabel *m_hashFileName = nullptr;

    QWidget *m_uploadingPage = nullptr;
    QProgressBar *m_uploadBar = nullptr;
    QLabel *m_uploadStatus = nullptr;
    QLabel *m_uploadPercent = nullptr;
    QLabel *m_uploadFileName = nullptr;
    QLabel *m_uploadSpeed = nullptr;

    QWidget *m_successPage = nullptr;
    QLabel *m_successTitle = nullptr;
    QLabel *m_successCopied = nullptr;
    QPushButton *m_copyButton = nullptr;

    QWidget *m_errorPage = nullptr;
    QLabel *m_errorTitle = nullptr;
    QLabel *m_errorMessage = nullptr;

    QPushButton *m_endButton = nullptr;
};

} // namespace sendova
