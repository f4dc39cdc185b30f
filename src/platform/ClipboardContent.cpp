#include "platform/ClipboardContent.h"

#include <QBuffer>
#include <QImage>
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
    if (data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        QBuffer buffer(&content.bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.isNull() && QImageWriter(&buffer, "png").write(image)) {
            content.kind = Kind::image;
            return content;
        }
        content.bytes.clear();
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
