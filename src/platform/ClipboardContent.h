#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QMimeData;

namespace sendova {

// What a paste would upload: the first local file of a copied selection
// (as a drop takes it), else an image, else text.
struct ClipboardContent
{
    // unreadableImage: an image was offered, in no form that decodes.
    enum class Kind { nothing, file, image, text, unreadableImage };

    Kind kind = Kind::nothing;
    // For a file.
    QUrl file;
    // An image as PNG (or as copied, while toPng is set), text as UTF-8.
    QByteArray bytes;
    // Set for an image copied in another format than PNG: turns bytes into
    // PNG, or gives nothing when they do not decode. Seconds for a
    // screen-sized picture, and safe on any thread: a program with windows
    // runs it off the main thread.
    std::function<std::optional<QByteArray>(const QByteArray &)> toPng;

    // The file-name extension the content is uploaded with.
    QString suffix() const
    {
        return kind == Kind::image || kind == Kind::unreadableImage ? QStringLiteral("png") : QStringLiteral("txt");
    }

    // Reads what data offers; an image in another format than PNG is read
    // as it is, for toPng. Needs Qt Gui, and is the only part of this that
    // does: a program without it never calls this, so its object file stays
    // out of that program.
    static ClipboardContent from(const QMimeData *data);
    // Whether from() would find something, without fetching an image.
    static bool offered(const QMimeData *data);
};

} // namespace sendova
