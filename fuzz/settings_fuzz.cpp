// The settings file: any bytes in it are read by the settings store and what
// they mean is resolved as the program resolves it. Every value in force is
// usable, and reading never writes: the file stays as it was, with no copy
// beside it.
#include "config/settings_store.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            std::abort();
    }
    {
        const SettingsStore store(path);
        const settings::Values values = store.values();
        if (values.minPort < 1 || values.maxPort < 1 ||
            (values.lister != settings::procLister && values.lister != settings::lsofLister))
            std::abort();
        for (const settings::KeyBase* key : settings::keys()) {
            (void)store.integer(key->name);
            (void)store.string(key->name);
            (void)store.array(key->name);
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes ||
        QFile::exists(path + QStringLiteral(".bad")))
        std::abort();
    return 0;
}
