#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

class QMimeData;

namespace sendova {

// What a paste would upload: the first local file of a copied selection
// (as a drop takes it), else an image, else text.
struct ClipboardContent
{
    enum class Kind { nothing, file, image, text };

    Kind kind = Kind::nothing;
    // For a file.
    QUrl file;
    // An image as PNG, text as UTF-8.
    QByteArray bytes;

    // The file-name extension the content is uploaded with.
    QString suffix() const { return kind == Kind::image ? QStringLiteral("png") : QStringLiteral("txt"); }

    // Reads what data offers, encoding any other image format as PNG. Needs
    // Qt Gui, and is the only part of this that does: a program without it
    // never calls this, so its object file stays out of that program.
    static ClipboardContent from(const QMimeData *data);
    // Whether from() would find something, without fetching an image.
    static bool offered(const QMimeData *data);
};

} // namespace sendova
