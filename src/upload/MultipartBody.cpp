#include "upload/MultipartBody.h"

#include "net/FileError.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace sendova::MultipartBody {

QString newBoundary()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QByteArray dispositionFileName(const QString &fileName)
{
    QByteArray escaped;
    for (const char c : fileName.toUtf8()) {
        switch (c) {
        case '"':
            escaped += "%22";
            break;
        case '\r':
            escaped += "%0D";
            break;
        case '\n':
            escaped += "%0A";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

HttpBody forFile(const QUrl &fileUrl, const QString &boundary)
{
    // The file is opened, not read: its bytes are streamed into the body as
    // the transfer asks for them. Opening it here still makes an unreadable
    // file fail before anything is sent.
    const QString path = fileUrl.toLocalFile();
    auto file = std::make_shared<QFile>(path);
    const QFileInfo info(path);
    if (path.isEmpty() || !file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        // QFile keeps errno to itself; what is left to look at tells most cases apart.
        const auto problem = !info.exists()       ? FileError::Problem::notFound
                             : !info.isReadable() ? FileError::Problem::noPermission
                                                  : FileError::Problem::unreadable;
        throw FileError(path.isEmpty() ? fileUrl.toString() : path, file->errorString(), problem);
    }
    if (info.isDir())
        throw FileError(path, QStringLiteral("Is a directory"), FileError::Problem::folder);

    HttpBody body;
    body.head =
        "--" + boundary.toUtf8() + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" +
        dispositionFileName(info.fileName()) + "\"\r\n" + "Content-Type: application/octet-stream\r\n\r\n";
    // A regular file announces its size; one that reads 0 may still have
    // content (the files of /proc and /sys), and a pipe or device has no size
    // at all. Those are read whole here, so the body carries what the hash
    // was computed over.
    if (info.isFile() && file->size() > 0) {
        body.file = file;
        body.fileLength = file->size();
    } else {
        const QByteArray contents = file->readAll();
        if (file->error() != QFileDevice::NoError)
            throw FileError(path, file->errorString());
        body.head += contents;
    }
    body.tail = "\r\n--" + boundary.toUtf8() + "--\r\n";
    return body;
}

} // namespace sendova::MultipartBody
