#pragma once

#include <QFrame>
#include <QString>
#include <QVector>
#include <QWidget>

namespace sendova {

// The modules of a QR code: size × size, true where dark.
struct QrCode
{
    int size = 0;
    QVector<bool> modules;

    bool isDark(int x, int y) const { return modules[y * size + x]; }
    // Medium error correction, the smallest version that holds text; an
    // empty code when the text cannot be encoded.
    static QrCode encode(const QString &text);
};

// A QR code drawn module by module on whole device pixels, with the quiet
// zone the readers need, so it stays sharp at every scale. Always dark on
// white: phone cameras read that best, whatever the desktop's palette.
class QrCodeView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int quietModules = 4;

    explicit QrCodeView(const QString &text, QWidget *parent = nullptr);

    const QrCode &code() const { return m_code; }
    QSize sizeHint() const override { return {220, 220}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QrCode m_code;
};

// The code of a link in a small window that opens under a button and closes
// on a click outside it or Escape.
class QrCodePopup : public QFrame
{
    Q_OBJECT

public:
    explicit QrCodePopup(const QString &link, QWidget *parent = nullptr);

    void showBelow(QWidget *anchor);
    QrCodeView *codeView() const { return m_view; }

private:
    QrCodeView *m_view = nullptr;
};

} // namespace sendova
