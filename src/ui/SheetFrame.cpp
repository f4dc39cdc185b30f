#include "ui/SheetFrame.h"

#include "widgets/BorderedButton.h"
#include "widgets/Divider.h"
#include "widgets/ProminentButton.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace sendova::sheet {

void frame(QDialog *sheet, QWidget *header, QWidget *body, QWidget *buttonRow)
{
    sheet->setWindowModality(sheet->parentWidget() ? Qt::WindowModal : Qt::NonModal);
    sheet->setSizeGripEnabled(false);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(new Divider(sheet));
    layout->addWidget(body, 1);
    layout->addWidget(new Divider(sheet));
    layout->addWidget(buttonRow);
}

QWidget *buttonRow(QWidget *parent, QPushButton **cancel, QPushButton **primary)
{
    auto *footer = new QWidget(parent);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(20, 12, 20, 12);
    row->setSpacing(8);
    *cancel = new BorderedButton(footer);
    *primary = new ProminentButton(footer);
    row->addStretch(1);
    row->addWidget(*cancel);
    row->addWidget(*primary);
    return footer;
}

bool altHeld()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
}

void bringUp(QDialog *sheet)
{
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
}

void follow(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace sendova::sheet
