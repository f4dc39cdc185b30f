#include "FuzzSupport.h"

#include "support/ErrorReport.h"

#include <QUrl>

// Whatever the log holds, the link is a valid mailto URL and its body
// decodes back to the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sendova::errorreport;
    const QString text = QString::fromUtf8(bytesOf<QByteArray>(data, size));
    const QString encoded = encodeHeaderValue(text);
    FUZZ_EXPECT(QUrl::fromPercentEncoding(encoded.toLatin1()) == text);
    FUZZ_EXPECT(QUrl(link(QStringLiteral("1.0"), QStringLiteral("Linux"), text), QUrl::StrictMode).isValid());
    return 0;
}
