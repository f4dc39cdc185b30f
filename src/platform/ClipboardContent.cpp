#include "platform/ClipboardContent.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>

namespace sendova {

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
