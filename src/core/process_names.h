#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

// The names a process goes by, as the allowlist matches them and a row shows
// them.
//
// The kernel keeps 15 bytes of a process's name (its comm): a name of exactly
// that length is the start of a longer one, "jupyter-noteboo" of
// "jupyter-notebook". Its full name is the file name, among its command
// line's first two arguments (a script run by its interpreter is the second)
// and its program, that begins with those 15 bytes.

// How many bytes of a name the kernel keeps.
inline constexpr qsizetype kernelNameBytes = 15;

// The full name of a process whose kernel name is `comm`, given its program
// (`exe`) and its command line as /proc/<pid>/cmdline gives it: `comm` itself
// unless it was cut.
QByteArray fullProcessName(QByteArrayView comm, QByteArrayView exe, QByteArrayView cmdline);

// The names a program's file name of a versioned interpreter stands for, most
// specific first: "python3.11" -> "python3", "python"; "ruby3.1" -> "ruby3",
// "ruby"; "node20" -> "node". Empty for a name without a version ending.
QList<QByteArray> unversionedNames(QByteArrayView name);

// The name under which a process is listed, or none when the allowlist does
// not allow it: its full name, else its kernel name (an entry may name the
// cut one), else its program's file name, else that file name without its
// version ("python3.11" as "python3"). `allows` tells whether a name is on
// the allowlist.
std::optional<QByteArray> listedName(QByteArrayView comm, QByteArrayView exe,
                                     QByteArrayView cmdline,
                                     const std::function<bool(const QByteArray&)>& allows);
