#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace sendova {

// The e-mail a user can send to support after a failed upload: the program's
// version, the system's and the whole in-memory log, handed to the user's
// mail program as a mailto link. Nothing is sent by the program itself.
namespace errorreport {

inline constexpr const char *supportMailbox = "support@sendova.app";

// A header value of a mailto link (RFC 6068): letters, digits, - . _ ~ and
// ! $ ' ( ) * + , ; : @ stay; every other character goes as its UTF-8
// bytes, each "%" and two upper-case hexadecimal digits.
QString encodeHeaderValue(const QString &text);

// "Linux: " follows this in the body: the distribution's name and the kernel.
QString systemVersion();

// The whole link for those values; a pure function of its arguments.
QString link(const QString &version, const QString &systemVersion, const QString &logText);

} // namespace errorreport

// Builds the report from the running program and the shared log and hands
// the link to open (the desktop's default mail handler). A link that does
// not parse is dropped silently; what open answers is ignored.
void composeErrorReport(const std::function<void(const QUrl &)> &open);

} // namespace sendova
