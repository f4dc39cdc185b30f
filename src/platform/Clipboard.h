#pragma once

#include "platform/ClipboardContent.h"

#include <QCoroTask>
#include <QProcess>
#include <QString>

#include <optional>

namespace sendova {

// The general clipboard, plain text only.
//
// On X11 and Wayland the clipboard holds no data of its own: the program that
// copied answers every paste, so its exit empties the clipboard unless a
// clipboard manager took a copy. The tray program lives on and can serve the
// text itself on X11, handing it to a keeper as it exits; the command-line
// client and the share program exit right after copying, so they hand the
// text to a small keeper process of ours that serves it until another
// program takes or clears the clipboard.
//
// Wayland lets only the client with keyboard focus set the clipboard. Without
// it the keeper sets it through the data-control protocol where the
// compositor offers it (wlroots compositors, KWin, Hyprland). Elsewhere
// (GNOME) a window of ours with focus serves the text itself; without focus
// only XWayland is left, and whether the compositor passes that on to
// Wayland programs cannot be seen from here.
class Clipboard
{
public:
    enum class Outcome {
        // A detached keeper serves the text; it survives this process.
        keptAfterExit,
        // This process serves the text: it is lost when the process exits
        // (unless a clipboard manager saves it).
        keptWhileRunning,
        // No display to copy to (no X11 or Wayland session).
        noDisplay,
        failed,
        // A keeper holds the text on XWayland in a Wayland session without
        // data-control: Wayland programs may or may not see it.
        unconfirmed,
    };

    struct CopyResult
    {
        Outcome outcome = Outcome::failed;
        // The keeper's process id when outcome is keptAfterExit or unconfirmed.
        qint64 keeperPid = 0;

        // Whether the text is known to be on the clipboard: what a program
        // may tell its user as "copied".
        bool confirmed() const
        {
            return outcome == Outcome::keptAfterExit || outcome == Outcome::keptWhileRunning;
        }
    };

    // Needs a QGuiApplication; without one it does nothing.
    static void clear();
    // Replaces the clipboard's content with text, served by this process while
    // it runs and handed to a keeper when it exits. Should the display refuse
    // this process the clipboard (X11 ignores a claim stamped earlier than the
    // last change, and a program that has seen no input for a while holds an
    // old time), the text goes to a keeper instead. In a Wayland session
    // this is copyPersistently: a keeper speaking data-control where the
    // compositor has it, else this process while a window of ours has focus.
    // Without a QGuiApplication only a keeper can take it.
    static CopyResult writeText(const QString &text);

    // Replaces the clipboard's content with text so that it stays after this
    // process exits. Works without a QGuiApplication; with one, this process
    // serves the text itself when no keeper can be started. Blocks until the
    // keeper owns the clipboard (a few tens of milliseconds).
    static CopyResult copyPersistently(const QString &text);

    // Where the keeper program is looked for, in order: next to the running
    // program, the installed location, the build tree.
    static QString keeperProgram();

    // What the program does as it exits (the tray program on quit): if this
    // process still serves a text it copied, a keeper takes it over, so that
    // the link outlives the program. Connected to aboutToQuit by the first
    // copy served in-process; callable directly.
    static CopyResult handOver();

private:
    // True when the display confirms that this process now owns the clipboard.
    static bool serveInProcess(const QString &text);
    static CopyResult copyThroughKeeper(const QString &text);
};

// What a paste would upload, read by the keeper program for a process without
// Qt Gui (the command line): through data-control on Wayland where the
// compositor offers it, else through X11 (XWayland on GNOME).
class KeeperPaste
{
public:
    // Nothing when it could not be read: no display to read it from, no
    // keeper, an owner that did not answer in time, or stop() was called.
    // The owner may take a few seconds to answer; the event loop runs
    // meanwhile.
    QCoro::Task<std::optional<ClipboardContent>> read();
    // Ends a read at once; its keeper goes with it.
    void stop();

private:
    QProcess m_keeper;
    bool m_stopped = false;
};

} // namespace sendova
