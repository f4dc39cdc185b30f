#pragma once

#include <QFileDialog>
#include <QPointer>
#include <QUrl>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>

namespace sendova {

class AppViewModel;

// The target the user drops a file on, or clicks to choose one: a dashed
// rounded rectangle that lights up in the accent colour while a file hovers
// over it. Hands the file to the view model's upload and nothing else.
// Ctrl+V anywhere in its window uploads what the clipboard holds.
class DropZoneView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int zoneHeight = 140;
    static constexpr int cornerRadius = 12;
    static constexpr int lineWidth = 2;
    static constexpr int targetingMs = 200;

    explicit DropZoneView(AppViewModel *viewModel, QWidget *parent = nullptr);

    bool isTargeted() const { return m_targeted; }
    // The open file chooser, if any. Opened with open(), so nothing waits
    // for it: the upload starts when it reports its choice.
    QFileDialog *fileChooser() const { return m_chooser; }
    void openFileChooser();
    // What Ctrl+V does while the zone is on screen.
    void paste();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setTargeted(bool targeted);
    void retranslate();
    void upload(const QUrl &file);
    void startLater(std::function<void(AppViewModel &)> start);
    static void acceptAsCopy(QDropEvent *event);

    QPointer<AppViewModel> m_viewModel;
    bool m_targeted = false;
    // 0 at rest, 1 targeted; eased in between.
    qreal m_highlight = 0;
    QVariantAnimation m_animation;
    QPointer<QFileDialog> m_chooser;
};

} // namespace sendova
