#pragma once

#include <QKeySequence>
#include <QShortcut>

class QDialog;
class QLineEdit;
class QPushButton;
class QString;
class QWidget;

namespace sendova::sheet {

// What the settings and setup sheets share. A sheet is window-modal over
// the popover, or an ordinary window when there is none; header, body and
// button row are stacked between dividers, the body taking the room left.
void frame(QDialog *sheet, QWidget *header, QWidget *body, QWidget *buttonRow);
// Cancel, then the prominent primary button, at the trailing end.
QWidget *buttonRow(QWidget *parent, QPushButton **cancel, QPushButton **primary);
// Ctrl+Return (or Enter) runs primary, Ctrl+Escape runs cancel, wherever
// the focus is in the sheet.
template<typename Sheet>
void addShortcuts(Sheet *sheet, void (Sheet::*primary)(), void (Sheet::*cancel)())
{
    for (const QKeySequence &keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)})
        QObject::connect(new QShortcut(keys, sheet), &QShortcut::activated, sheet, primary);
    QObject::connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Escape), sheet), &QShortcut::activated,
                     sheet, cancel);
}
// Whether Alt is held at this moment (the server field's secret door).
bool altHeld();
// On screen, in front and with the focus.
void bringUp(QDialog *sheet);
// A field set from its model without moving the cursor of the user typing
// in it.
void follow(QLineEdit *field, const QString &text);

} // namespace sendova::sheet
