#pragma once

// True when the application runs on X11 and some screen has an XEmbed system
// tray manager (an owner of the _NET_SYSTEM_TRAY_S<n> selection). Needs a
// QGuiApplication; false on any other windowing system.
bool xembedTrayPresent();

// True when an X server answers at `display` (a DISPLAY value). Qt aborts when
// its X11 platform cannot connect, so the program asks first to say so
// plainly. True when the build has no X11 support (nothing to ask).
bool x11DisplayReachable(const char* display);
