#pragma once

#include <QByteArray>
#include <QString>

// Starting the program at login: a desktop entry in the user's autostart
// folder ($XDG_CONFIG_HOME/autostart, ~/.config/autostart when that is unset
// or not absolute), which the desktop runs when the session starts. The entry
// is the installed desktop entry with Exec pointing at a given program file.
namespace autostart {

// The autostart entry's path for the configuration folder `configHome` (the
// value of XDG_CONFIG_HOME, may be empty) and the home folder `home`.
QString entryPath(const QString& configHome, const QString& home);
// The same for the running program's environment.
QString entryPath();

// Whether the entry at `path` starts the program at login: it exists and its
// [Desktop Entry] group does not hide it (Hidden=true, or
// X-GNOME-Autostart-enabled=false, both mean "off" to the desktops).
bool isEnabled(const QString& path);

// `entry` (a desktop entry's text) with its Exec line running `program` and no
// TryExec. Empty when `program` cannot be written in a desktop entry (a line
// break in it).
QByteArray entryFor(const QByteArray& entry, const QString& program);

// The installed desktop entry's text, as compiled into the binary.
QByteArray installedEntry();

// Writes the entry running `program` to `path` (creating its folder), or
// removes it. Returns why it failed; empty on success.
QString setEnabled(const QString& path, bool enabled, const QString& program);

} // namespace autostart
