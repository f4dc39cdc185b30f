#include "FuzzSupport.h"

#include "app/SetupLink.h"
#include "support/ErrorReport.h"

#include <QUrl>

// Whatever a web page hands over as a setup link, it is read or refused.
// Whatever the log holds, the error report's link is a valid mailto URL and
// its body decodes back to the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sendova;
    const QString text = QString::fromUtf8(bytesOf<QByteArray>(data, size));
    SetupLink::parse(text);
    const QString encoded = errorreport::encodeHeaderValue(text);
    FUZZ_EXPECT(QUrl::fromPercentEncoding(encoded.toLatin1()) == text);
    FUZZ_EXPECT(
        QUrl(errorreport::link(QStringLiteral("1.0"), QStringLiteral("Linux"), text), QUrl::StrictMode)
            .isValid());
    return 0;
}
