#pragma once

// True when the application runs on X11 and some screen has an XEmbed system
// tray manager (an owner of the _NET_SYSTEM_TRAY_S<n> selection). Needs a
// QGuiApplication; false on any other windowing system.
bool xembedTrayPresent();
