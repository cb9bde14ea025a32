// The settings file: any bytes in it are read by the settings store and the
// stored values asked for as the program asks for them. Reading never changes
// the file.
#include "platform/settings_store.h"

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
        store.integer(QStringLiteral("minPort"));
        store.integer(QStringLiteral("maxPort"));
        if (const auto names = store.array(QStringLiteral("allowlist"))) {
            for (const QJsonValue& name : *names)
                (void)name.toString();
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
        std::abort();
    return 0;
}
