#pragma once

#include <QString>

namespace sendova {

// Text from outside the program (a server's message, a file's name) on its
// way to a terminal, a notification, recents.json or the clipboard: C0 and C1
// controls and the bidirectional embeddings, overrides and isolates are
// dropped, so that it cannot move the cursor, retitle the terminal, start a
// new line that looks like our own, or turn the text around it backwards.
QString shownText(const QString &text);

// An absolute http(s) URL with a host and nothing that a terminal, a shell
// or a reader would take for more than one link: no control, format or
// space character anywhere.
bool isWebLink(const QString &text);

} // namespace sendova
