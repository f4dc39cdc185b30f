#include "upload/UploadProgress.h"

#include "support/LocalizationService.h"

#include <charconv>

namespace sendova {

static_assert(int(UploadState::Case::failed) == std::variant_size_v<UploadState::Value> - 1,
              "Case and Value must list the states in the same order");

namespace {

// printf's "%.Nf" without its dependence on the process locale (Qt sets
// LC_NUMERIC from the environment, which would turn the point into a comma):
// to_chars rounds the exact binary value the same way, ties to even.
QString fixed(double value, int decimals)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

int UploadProgress::percentage() const
{
    if (fileSize < 1)
        return 0;
    return int(double(bytesUploaded) / double(fileSize) * 100.0);
}

QString UploadProgress::speedText() const
{
    if (speed < 1024.0)
        return fixed(speed, 0) + QStringLiteral(" B/s");
    if (speed < 1048576.0)
        return fixed(speed / 1024.0, 1) + QStringLiteral(" KB/s");
    return fixed(speed / 1048576.0, 1) + QStringLiteral(" MB/s");
}

QString UploadProgress::timeRemainingText() const
{
    if (!(speed > 0.0))
        return QStringLiteral("--:--");
    const double seconds = double(fileSize - bytesUploaded) / speed;
    const LocalizationService &localization = LocalizationService::shared();
    if (seconds < 60.0)
        return fixed(seconds, 0) + QLatin1Char(' ') + localization.localized("upload.time.seconds");
    if (seconds < 3600.0)
        return fixed(seconds / 60.0, 0) + QLatin1Char(' ') + localization.localized("upload.time.minutes");
    return fixed(seconds / 3600.0, 1) + QLatin1Char(' ') + localization.localized("upload.time.hours");
}

} // namespace sendova
