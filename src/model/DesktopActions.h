#pragma once

#include <QString>

#include <functional>

namespace sendova {

// What the workflow asks of the desktop when an upload ends. The programs
// wire these to the clipboard and the notification service; a program
// without a desktop leaves them empty and nothing happens.
struct DesktopActions
{
    // Returns whether the text is known to be on the clipboard; a program
    // then tells its user "copied", and otherwise asks them to copy.
    std::function<bool(const QString &text)> copyToClipboard;
    std::function<void(const QString &fileName, const QString &url)> showUploadComplete;
    std::function<void(const QString &fileName, const QString &url)> showDuplicate;
    std::function<void(const QString &fileName, const QString &message)> showError;
};

} // namespace sendova
