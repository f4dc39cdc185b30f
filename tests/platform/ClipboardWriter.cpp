// A short-lived program that copies the text on its standard input and exits
// at once, as the command-line client does; it prints how the copy was made.
// Run as: clipboard_writer persistent|without-gui < text

#include "platform/Clipboard.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

using sendova::Clipboard;

int main(int argc, char **argv)
{
    // "without-gui" copies as the command-line client does: with no
    // QGuiApplication and so no display connection of its own.
    const QByteArray mode = argc == 2 ? QByteArray(argv[1]) : QByteArray();
    std::unique_ptr<QCoreApplication> app;
    if (mode == "without-gui")
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QGuiApplication>(argc, argv);

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return 2;
    const QString text = QString::fromUtf8(input.readAll());
    const Clipboard::CopyResult copy = Clipboard::copyPersistently(text);
    const char *names[] = {"kept-after-exit", "kept-while-running", "no-display", "failed", "unconfirmed"};
    std::printf("%s\n", names[int(copy.outcome)]);
    return 0;
}
