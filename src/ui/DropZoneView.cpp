#include "ui/DropZoneView.h"

#include "model/AppViewModel.h"
#include "ui/Localized.h"
#include "widgets/Symbols.h"
#include "widgets/TextStyle.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>

namespace sendova {

namespace {

constexpr int symbolSize = 36;
constexpr int stackSpacing = 12;

QColor mix(const QColor &from, const QColor &to, qreal t)
{
    return QColor::fromRgbF(
        from.redF() + (to.redF() - from.redF()) * t, from.greenF() + (to.greenF() - from.greenF()) * t,
        from.blueF() + (to.blueF() - from.blueF()) * t, from.alphaF() + (to.alphaF() - from.alphaF()) * t);
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

// The first local file a drag carries; other kinds of link are not ours to
// upload.
std::optional<QUrl> firstFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            return url;
    }
    return std::nullopt;
}

} // namespace

DropZoneView::DropZoneView(AppViewModel *viewModel, QWidget *parent) : QWidget(parent), m_viewModel(viewModel)
{
    setFixedHeight(zoneHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAcceptDrops(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);

    m_animation.setDuration(targetingMs);
    m_animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_highlight = value.toReal();
        update();
    });

    // A shortcut of the window rather than a key of the zone: the focus is
    // rarely on the zone itself. Only while the zone is shown, which is
    // when no upload is on.
    auto *pasting = new QShortcut(QKeySequence::Paste, this);
    pasting->setContext(Qt::WindowShortcut);
    connect(pasting, &QShortcut::activated, this, &DropZoneView::paste);

    connect(&LocalizationService::shared(), &LocalizationService::currentLanguageChanged, this,
            &DropZoneView::retranslate);
    retranslate();
}

void DropZoneView::paste()
{
    const ClipboardContent content = ClipboardContent::from(QGuiApplication::clipboard()->mimeData());
    startLater([content](AppViewModel &model) { model.startPasteUpload(content); });
}

void DropZoneView::retranslate()
{
    // Read out by screen readers; the zone is a button to them.
    setAccessibleName(ui::text("dropzone.drag_files"));
    setAccessibleDescription(ui::text("dropzone.or_browse"));
    update();
}

void DropZoneView::setTargeted(bool targeted)
{
    if (targeted == m_targeted)
        return;
    m_targeted = targeted;
    m_animation.stop();
    m_animation.setStartValue(m_highlight);
    m_animation.setEndValue(targeted ? 1.0 : 0.0);
    m_animation.start();
}

void DropZoneView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &colors = palette();
    const QColor accent = accentColor(colors);
    const QColor secondary = secondaryColor(colors);

    // The border lies inside the edge: the pen's centre is half a line in.
    const qreal half = lineWidth / 2.0;
    const QRectF frame = QRectF(rect()).adjusted(half, half, -half, -half);
    QPainterPath outline;
    outline.addRoundedRect(frame, cornerRadius - half, cornerRadius - half);
    painter.fillPath(outline, withAlpha(accent, 0.1 * m_highlight));

    // 8 on, 4 off: Qt counts a dash pattern in pen widths.
    QPen border(mix(withAlpha(secondary, 0.5), accent, m_highlight), lineWidth);
    border.setDashPattern({4.0, 2.0});
    border.setDashOffset(0);
    border.setCapStyle(Qt::FlatCap);
    border.setJoinStyle(Qt::MiterJoin);
    border.setMiterLimit(10);
    // Keyboard focus: solid and in the accent, so it reads at a glance.
    if (hasFocus()) {
        border.setStyle(Qt::SolidLine);
        border.setColor(accent);
    }
    painter.setPen(border);
    painter.drawPath(outline);

    const QFont dragFont = fontFor(font(), TextStyle::subheadline);
    const QFont browseFont = fontFor(font(), TextStyle::caption);
    const QFontMetrics dragMetrics(dragFont);
    const QFontMetrics browseMetrics(browseFont);
    const int contentHeight =
        symbolSize + stackSpacing + dragMetrics.height() + stackSpacing + browseMetrics.height();
    int y = (height() - contentHeight) / 2;
    const int textWidth = width() - 2 * cornerRadius;

    const QPixmap symbol =
        symbolPixmap(Symbol::dropFile, symbolSize, mix(secondary, accent, m_highlight), devicePixelRatioF());
    painter.drawPixmap((width() - symbolSize) / 2, y, symbol);
    y += symbolSize + stackSpacing;

    painter.setFont(dragFont);
    painter.setPen(mix(secondary, colors.color(QPalette::WindowText), m_highlight));
    painter.drawText(QRect(cornerRadius, y, textWidth, dragMetrics.height()), Qt::AlignCenter,
                     dragMetrics.elidedText(ui::text("dropzone.drag_files"), Qt::ElideRight, textWidth));
    y += dragMetrics.height() + stackSpacing;

    painter.setFont(browseFont);
    painter.setPen(secondary);
    painter.drawText(QRect(cornerRadius, y, textWidth, browseMetrics.height()), Qt::AlignCenter,
                     browseMetrics.elidedText(ui::text("dropzone.or_browse"), Qt::ElideRight, textWidth));
}

void DropZoneView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        openFileChooser();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void DropZoneView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openFileChooser();
        return;
    }
    QWidget::keyPressEvent(event);
}

void DropZoneView::openFileChooser()
{
    if (m_chooser) {
        m_chooser->raise();
        m_chooser->activateWindow();
        return;
    }
    m_chooser = new QFileDialog(window());
    m_chooser->setAttribute(Qt::WA_DeleteOnClose);
    m_chooser->setFileMode(QFileDialog::ExistingFile);
    m_chooser->setSupportedSchemes({QStringLiteral("file")});
    // Cancelling ends here: nothing is chosen, nothing happens.
    connect(m_chooser, &QDialog::accepted, this, [this] {
        const QList<QUrl> chosen = m_chooser ? m_chooser->selectedUrls() : QList<QUrl>();
        if (!chosen.isEmpty() && chosen.first().isLocalFile())
            upload(chosen.first());
    });
    m_chooser->open();
}

void DropZoneView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!firstFile(event->mimeData())) {
        event->ignore();
        return;
    }
    acceptAsCopy(event);
    setTargeted(true);
}

void DropZoneView::dragMoveEvent(QDragMoveEvent *event)
{
    // Each move proposes the source's action anew.
    if (firstFile(event->mimeData()))
        acceptAsCopy(event);
    else
        event->ignore();
}

void DropZoneView::acceptAsCopy(QDropEvent *event)
{
    // A file manager proposes a move by default, and a source that honours
    // the answer removes its original: the file stays where it was.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent *event)
{
    setTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void DropZoneView::dropEvent(QDropEvent *event)
{
    setTargeted(false);
    const std::optional<QUrl> file = firstFile(event->mimeData());
    if (!file) {
        event->ignore();
        return;
    }
    // Of several files only the first is taken; the drop itself succeeds.
    acceptAsCopy(event);
    upload(*file);
}

void DropZoneView::upload(const QUrl &file)
{
    startLater([file](AppViewModel &model) { model.startUpload(file); });
}

void DropZoneView::startLater(std::function<void(AppViewModel &)> start)
{
    // After the drag, the chooser or the shortcut has finished with us: the
    // upload's first steps swap the popover's body, this zone included.
    QMetaObject::invokeMethod(
        this,
        [this, start = std::move(start)] {
            if (m_viewModel)
                start(*m_viewModel);
        },
        Qt::QueuedConnection);
}

void DropZoneView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

} // namespace sendova
