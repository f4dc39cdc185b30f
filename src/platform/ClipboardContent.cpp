#include "platform/ClipboardContent.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>

#include <algorithm>

namespace sendova {

namespace {

bool hasLocalFile(const QMimeData *data)
{
    if (!data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl &url) { return url.isLocalFile(); });
}

std::optional<QByteArray> encodePng(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !QImageWriter(&buffer, "png").write(image))
        return std::nullopt;
    return png;
}

std::optional<QByteArray> convertToPng(const QByteArray &bytes)
{
    return encodePng(QImage::fromData(bytes));
}

} // namespace

bool ClipboardContent::offered(const QMimeData *data)
{
    if (!data)
        return false;
    const QStringList formats = data->formats();
    const bool image = std::any_of(formats.begin(), formats.end(), [](const QString &format) {
        return format.startsWith(QLatin1String("image/")) ||
               format == QLatin1String("application/x-qt-image");
    });
    return image || hasLocalFile(data) || !data->text().trimmed().isEmpty();
}

ClipboardContent ClipboardContent::from(const QMimeData *data)
{
    ClipboardContent content;
    if (!data)
        return content;
    if (data->hasUrls()) {
        for (const QUrl &url : data->urls()) {
            if (url.isLocalFile()) {
                content.kind = Kind::file;
                content.file = url;
                return content;
            }
        }
    }
    // Taken as it is when offered as PNG: no decoding, and the very bytes
    // the other program copied.
    const QByteArray png = data->data(QStringLiteral("image/png"));
    if (!png.isEmpty()) {
        content.kind = Kind::image;
        content.bytes = png;
        return content;
    }
    // Any other format Qt reads is taken as copied and converted later:
    // decoding and encoding a screen-sized picture takes seconds.
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    for (const QString &format : data->formats()) {
        if (!format.startsWith(QLatin1String("image/")) || !readable.contains(format.toLatin1()))
            continue;
        QByteArray copied = data->data(format);
        if (!copied.isEmpty()) {
            content.kind = Kind::image;
            content.bytes = std::move(copied);
            content.toPng = convertToPng;
            return content;
        }
    }
    // Offered only as a picture in memory (by a program of ours), or in
    // formats Qt cannot read: an image that fails to decode is said to,
    // rather than replaced by whatever text came with it.
    if (data->hasImage()) {
        const std::optional<QByteArray> png = encodePng(qvariant_cast<QImage>(data->imageData()));
        content.kind = png ? Kind::image : Kind::unreadableImage;
        content.bytes = png.value_or(QByteArray());
        return content;
    }
    // Blank text is nothing anybody meant to share.
    const QString text = data->text();
    if (!text.trimmed().isEmpty()) {
        content.kind = Kind::text;
        content.bytes = text.toUtf8();
    }
    return content;
}

} // namespace sendova
