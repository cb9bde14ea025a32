#pragma once

#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

class QGroupBox;
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

// Draws the group's title in the headline font, the same as the tabs'
// headlines; what the group holds keeps its own font. Call it once the
// group is filled.
void boldTitle(QGroupBox* group);

// Shows the label in the dimmed text colour used for secondary information.
void makeSecondary(QLabel* label);

// `text` with its "%1" made the examples, joined by ", ", as rich text in
// which no example is broken across lines: a hint wraps at spaces only.
QString unbrokenExamples(const QString& text, const QStringList& examples);

// Symbols drawn by the program, so they exist on every desktop and follow the
// palette's text colour.
QIcon numberIcon(); // the "Ports" tab
QIcon listIcon();   // the "Processes" tab
QIcon hostsIcon();  // the "Hosts" tab
QIcon infoIcon();   // the "About" tab
QIcon removeIcon(); // a filled circle with a cross, in the dimmed colour

// The program's symbol for the About tab: the same icon as the tray's.
QIcon programSymbol();

} // namespace settings_style
