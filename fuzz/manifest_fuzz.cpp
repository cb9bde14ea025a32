// Any bytes as each kind of manifest. A name given is one line that can be
// shown: trimmed, no control characters, no longer than npm allows.
#include "core/project_manifest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QString& file : manifestFiles()) {
        const QString name = manifestName(file, text);
        if (name.size() > 214 || name != name.trimmed() || !name.isValidUtf16())
            std::abort();
        for (const QChar c : name) {
            if (c.category() == QChar::Other_Control)
                std::abort();
        }
    }
    (void)tomlString(text, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    return 0;
}
