// A short-lived program that copies the text on its standard input and exits
// at once, as the command-line client does; it prints how the copy was made
// and the keeper's process id.

#include "platform/Clipboard.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

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
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QFile input;
    if (arguments.size() != 2 || !input.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "usage: clipboard_writer persistent|in-process < text\n");
        return 2;
    }
    const QString text = QString::fromUtf8(input.readAll());

    const Clipboard::PersistentCopy copy = arguments.at(1) == QLatin1String("in-process")
                                               ? Clipboard::writeText(text)
                                               : Clipboard::copyPersistently(text);
    std::printf("%s %lld\n", outcomeName(copy.outcome), static_cast<long long>(copy.keeperPid));
    return 0;
}
