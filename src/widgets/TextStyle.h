#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QLabel;
class QWidget;

namespace sendova {

// Text styles relative to the desktop's own font size, so that the views
// grow and shrink with the user's font setting like the desktop's own
// programs do.
enum class TextStyle { title2, headline, subheadline, caption, caption2 };

QFont fontFor(const QFont &base, TextStyle style);
// The caption size in the desktop's fixed-pitch font, for links and codes.
QFont monospacedFont(const QFont &base, TextStyle style);

// Colour roles. The accent is the palette's highlight; secondary text sits
// between the text and the window colour, so it follows light and dark
// palettes alike.
QColor accentColor(const QPalette &palette);
QColor secondaryColor(const QPalette &palette);
bool isDark(const QPalette &palette);
// The status colours, in the shade that reads well on the palette's window.
QColor successGreen(const QPalette &palette);
QColor failureRed(const QPalette &palette);
QColor warningOrange(const QPalette &palette);
// Thin separators and quiet fills: the text colour at a low opacity.
QColor hairlineColor(const QPalette &palette);

// A label in that style; secondary ones take the secondary colour.
QLabel *makeLabel(QWidget *parent, TextStyle style, bool secondary);
// Paints a widget's text in the secondary colour.
void setSecondary(QWidget *widget);

} // namespace sendova
