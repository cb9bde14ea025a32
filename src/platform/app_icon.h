#pragma once

#include <QIcon>

// The program's icon: the installed "harborwatch" theme icon, or the same
// images compiled into the binary (":/icons/<N>/harborwatch.png" for N = 16,
// 22, 24, 32, 48, 64, 128, 256; ":/icons/harborwatch.png" is the 256 px one)
// when it is not installed.
QIcon harborwatchIcon();
