#pragma once

#include "core/presentation.h"

#include <QString>

// Who draws a menu: Qt itself (the program's own popup, an XEmbed tray), or a
// panel from the D-Bus menu that Qt exports for a StatusNotifierItem host.
// The two read mnemonic marks differently.
enum class LabelStyle { Widgets, DBusMenu };

// `text` escaped so that a menu drawn in `style` shows it exactly.
QString literalMenuText(QString text, LabelStyle style);

// The same as a function, for a presentation's names.
LiteralText literalFor(LabelStyle style);
