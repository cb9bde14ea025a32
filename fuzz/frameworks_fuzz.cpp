// A process's command line (/proc/<pid>/cmdline: NUL-separated arguments) as
// the details reader takes it: split, its framework and HTTPS read, and shown.
// Checks that a framework, when named, is one short name.
#include "core/frameworks.h"
#include "core/server_details.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray cmdline(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList arguments = argumentsFromCmdline(cmdline);
    const QString framework =
        detectFramework(arguments, arguments.value(0), QStringLiteral("/home/ann/shop/public"));
    if (framework.size() > 32 || framework.contains(QLatin1Char('\n')))
        std::abort();
    (void)servesHttps(arguments);
    (void)commandLineText(arguments);
    (void)shellCommandText(arguments);
    return 0;
}
