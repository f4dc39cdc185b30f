#pragma once

#include <QLabel>

namespace sendova {

// A message centred on as many lines as it needs, as long as there is room
// for them: a message longer than that (a server may say anything) ends with
// an ellipsis on the last line that fits, and the whole of it stays in the
// tooltip. Long words break anywhere rather than widen the window; paths
// and addresses never break, and lose their middle when a line is too short.
class WrappedMessage : public QLabel
{
    Q_OBJECT

public:
    explicit WrappedMessage(QWidget *parent = nullptr);

    void setMessage(const QString &text);
    QString message() const { return m_message; }
    // Whether the last render had to leave part of the message out.
    bool isCut() const { return m_cut; }
    // Lines beyond this many are cut even when the layout offers more room.
    void setMaximumLines(int lines);
    // Centred unless told otherwise.
    void setLineAlignment(Qt::Alignment alignment);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_message;
    bool m_cut = false;
    int m_maximumLines = 0;
    Qt::Alignment m_lineAlignment = Qt::AlignHCenter;
};

} // namespace sendova
