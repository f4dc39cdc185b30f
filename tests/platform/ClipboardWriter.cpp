// A short-lived program that copies the text on its standard input and exits
// at once, as the command-line client does; it prints how the copy was made
// and the keeper's process id.

#include "platform/Clipboard.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

using sendova::Clipboard;

namespace {

const char *outcomeName(Clipboard::Outcome outcome)
{
    switch (outcome) {
    case Clipboard::Outcome::keptAfterExit:
        return "kept-after-exit";
    case Clipboard::Outcome::keptWhileRunning:
        return "kept-while-running";
    case Clipboard::Outcome::noDisplay:
        return "no-display";
    case Clipboard::Outcome::failed:
        return "failed";
    }
    return "?";
}

} // namespace

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
    if (mode.isEmpty() || !input.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "usage: clipboard_writer persistent|in-process|without-gui < text\n");
        return 2;
    }
    const QString text = QString::fromUtf8(input.readAll());

    const Clipboard::CopyResult copy =
        mode == "in-process" ? Clipboard::writeText(text) : Clipboard::copyPersistently(text);
    std::printf("%s %lld\n", outcomeName(copy.outcome), static_cast<long long>(copy.keeperPid));
    return 0;
}
