#pragma once

#include <QFont>
#include <QIcon>

class QLabel;

// Shared look of the settings window: the text styles its tabs use and the
// small monochrome symbols on the tabs and buttons.
namespace settings_style {

// Bold text for a headline or a group's title line.
QFont headlineFont(const QFont& base);
// The program's name on the About tab: larger and bold.
QFont titleFont(const QFont& base);
// Small print for captions and the version line.
QFont captionFont(const QFont& base);

// Shows the label in the dimmed text colour used for secondary information.
void makeSecondary(QLabel* label);

// Symbols drawn by the program, so they exist on every desktop and follow the
// palette's text colour.
QIcon numberIcon(); // the "Ports" tab
QIcon listIcon();   // the "Processes" tab
QIcon infoIcon();   // the "About" tab
QIcon removeIcon(); // a filled circle with a cross, in the dimmed colour

// The program's symbol for the About tab: the same icon as the tray's.
QIcon programSymbol();

} // namespace settings_style
