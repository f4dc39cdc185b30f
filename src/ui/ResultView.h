#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace sendova {

class AppViewModel;
class ElidedLabel;
class QrCodePopup;

// A finished upload: a success or duplicate headline, the file's name, the
// link in a box that copies it, and buttons to copy it, open it, show it as a
// QR code, or dismiss the result. The link, the duplicate flag and the name
// are fixed for the view's life; the popover makes a new one per result.
class ResultView : public QWidget
{
    Q_OBJECT

public:
    // How long "copied" shows after a copy.
    static constexpr int copiedMs = 2000;

    ResultView(QString url, bool isDuplicate, QString fileName, AppViewModel *viewModel,
               std::function<void()> onDismiss, QWidget *parent = nullptr);

    const QString &url() const { return m_url; }
    bool isDuplicate() const { return m_isDuplicate; }
    const QString &fileName() const { return m_fileName; }
    bool isCopied() const { return m_copied; }
    void copy();
    void open();
    void showQrCode();

    // Exposed for the tests.
    QPushButton *linkBox() const { return m_linkBox; }
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *openButton() const { return m_openButton; }
    QPushButton *qrButton() const { return m_qrButton; }
    QPushButton *okButton() const { return m_okButton; }
    QLabel *headline() const { return m_headline; }
    QLabel *linkCaption() const { return m_linkCaption; }
    QrCodePopup *qrPopup() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void render();
    void renderSymbols();
    void setCopied(bool copied);

    const QString m_url;
    const bool m_isDuplicate;
    const QString m_fileName;
    QPointer<AppViewModel> m_viewModel;
    std::function<void()> m_onDismiss;
    bool m_copied = false;

    QLabel *m_icon = nullptr;
    QLabel *m_headline = nullptr;
    ElidedLabel *m_fileNameLabel = nullptr;
    QLabel *m_linkCaption = nullptr;
    QPushButton *m_linkBox = nullptr;
    ElidedLabel *m_linkText = nullptr;
    QLabel *m_linkSymbol = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_openButton = nullptr;
    QPushButton *m_qrButton = nullptr;
    QPushButton *m_okButton = nullptr;
    QPointer<QrCodePopup> m_qrPopup;
};

} // namespace sendova
