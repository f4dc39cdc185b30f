#pragma once

#include "net/HttpSession.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace sendova {

// The one-part multipart/form-data body both programs send: the form field
// "file" holding the file's bytes as application/octet-stream, under its
// last path component.
namespace MultipartBody {

// "\"" → %22, CR → %0D, LF → %0A, everything else as UTF-8, so that a
// file name cannot end the quoted parameter or the header line.
QByteArray dispositionFileName(const QString &fileName);

// A fresh random UUID in its 36-character upper-case form.
QString newBoundary();

// Opens the file and describes the body as head + the file's bytes + tail,
// read while the transfer goes out. Throws FileError when the file cannot be
// opened or read (a source that is not a regular file is read here, whole,
// since it has no size to announce).
HttpBody forFile(const QUrl &fileUrl, const QString &boundary);

} // namespace MultipartBody

} // namespace sendova
