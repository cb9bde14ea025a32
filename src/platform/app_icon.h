#pragma once

#include <QIcon>

// The program's icon: the installed "harborwatch" theme icon, or the same
// images compiled into the binary (":/icons/<N>/harborwatch.png" for N = 16,
// 22, 24, 32, 48, 64, 128, 256; ":/icons/harborwatch.png" is the 256 px one)
// when it is not installed.
QIcon harborwatchIcon();

// The icon for a StatusNotifierItem tray: the monochrome
// "harborwatch-symbolic" theme icon, which a panel draws in its own light or
// dark colour, or the coloured icon when that is not installed.
QIcon harborwatchTrayIcon();
