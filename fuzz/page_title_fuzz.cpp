// A page's first bytes as a look reads them, with a Content-Type header: the
// input's first line when it holds "charset", else none. Checks what the
// title promises: one line of text, trimmed, single spaces, valid UTF-16, no
// longer than the limit.
#include "probe/page_title.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArrayView contentType;
    if (const qsizetype end = input.indexOf('\n');
        end >= 0 && input.first(end).contains("charset")) {
        contentType = input.first(end);
        input = input.sliced(end + 1);
    }
    const QString title = pageTitle(input, contentType);
    if (title.size() > pageTitleLimit || !title.isValidUtf16() || title != title.trimmed() ||
        title.contains(QStringLiteral("  ")))
        std::abort();
    for (const QChar c : title) {
        if (c.category() == QChar::Other_Control || c == u'\t' || c == u'\n')
            std::abort();
    }
    return 0;
}
