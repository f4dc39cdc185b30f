#include "ui/MenuBarWindow.h"

#include "ui/MenuBarView.h"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace sendova {

MenuBarWindow::MenuBarWindow(AppViewModel *viewModel, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Sendova"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window follows the body: taller with recent uploads, shorter with
    // the progress.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_view = new MenuBarView(viewModel, this);
    layout->addWidget(m_view);
    connect(m_view, &MenuBarView::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace sendova
