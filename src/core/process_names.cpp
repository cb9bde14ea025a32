#include "core/process_names.h"

#include <algorithm>

namespace {

QByteArrayView fileName(QByteArrayView path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.sliced(slash + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

QByteArray fullProcessName(QByteArrayView comm, QByteArrayView exe, QByteArrayView cmdline) {
    if (comm.size() != kernelNameBytes)
        return comm.toByteArray();
    // The arguments first: a script's console name ("jupyter-notebook") is
    // there, while the program is its interpreter.
    const qsizetype firstEnd = cmdline.indexOf('\0');
    const QByteArrayView first = firstEnd < 0 ? cmdline : cmdline.first(firstEnd);
    QByteArrayView second;
    if (firstEnd >= 0) {
        const QByteArrayView rest = cmdline.sliced(firstEnd + 1);
        const qsizetype secondEnd = rest.indexOf('\0');
        second = secondEnd < 0 ? rest : rest.first(secondEnd);
    }
    for (const QByteArrayView name : {fileName(first), fileName(second), fileName(exe)}) {
        if (name.size() > comm.size() && name.startsWith(comm))
            return name.toByteArray();
    }
    return comm.toByteArray();
}

QList<QByteArray> unversionedNames(QByteArrayView name) {
    QList<QByteArray> names;
    qsizetype end = name.size();
    // "3.11" off "python3.11": first the part after the last dot, then the
    // digits before it; each cut must leave a name that ends in no dot.
    while (end > 0) {
        qsizetype cut = end;
        while (cut > 0 && isDigit(name[cut - 1]))
            --cut;
        if (cut == end || cut == 0)
            break;
        if (name[cut - 1] == '.') {
            --cut; // "python3.11" -> "python3"
        }
        const QByteArrayView base = name.first(cut);
        if (cut == 0 || name[cut - 1] == '.' || std::all_of(base.begin(), base.end(), isDigit))
            break;
        names.append(base.toByteArray());
        end = cut;
    }
    return names;
}

std::optional<QByteArray> listedName(QByteArrayView comm, QByteArrayView exe,
                                     QByteArrayView cmdline,
                                     const std::function<bool(const QByteArray&)>& allows) {
    const QByteArray full = fullProcessName(comm, exe, cmdline);
    if (allows(full))
        return full;
    const QByteArray kernel = comm.toByteArray();
    if (kernel != full && allows(kernel))
        return kernel;
    const QByteArray program = fileName(exe).toByteArray();
    if (program.isEmpty())
        return std::nullopt;
    if (allows(program))
        return program;
    for (const QByteArray& name : unversionedNames(program)) {
        if (allows(name))
            return name;
    }
    return std::nullopt;
}
