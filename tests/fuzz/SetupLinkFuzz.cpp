#include "FuzzSupport.h"

#include "app/SetupLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    sendova::SetupLink::parse(QString::fromUtf8(bytesOf<QByteArray>(data, size)));
    return 0;
}
