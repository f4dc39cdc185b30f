#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

namespace sendova::test {

// A private Wayland desktop for tests: a headless sway (software rendering, no
// input devices) in a runtime folder of its own, optionally with XWayland.
// Sway refuses to run as root, so under root it runs as "nobody", in a folder
// that user owns; root's clients reach its socket all the same. Programs meet
// it only through the environment this hands out, never the caller's own.
// A virtual keyboard (wtype) is its one input device.
class SwaySession
{
public:
    enum class XWayland { off, on };

    explicit SwaySession(XWayland xwayland = XWayland::off) : m_xwayland(xwayland) {}
    ~SwaySession();

    // Whether sway, wl-clipboard and wtype are installed; tests skip without them.
    static bool available();
    // Starts the compositor and waits until it runs its start-up commands.
    // On failure, errorText() says why.
    bool start();
    QByteArray errorText() const { return m_error; }

    // base, pointed at this desktop: WAYLAND_DISPLAY (a socket path), DISPLAY
    // for its XWayland or none, and Qt's Wayland platform.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // Runs a client of this desktop (wl-copy, wtype, swaymsg) to its end; its
    // exit code, or -1.
    int run(const QString &program, const QStringList &args, QByteArray *output = nullptr) const;
    // The clipboard's text as a Wayland program reads it (wl-paste); nothing
    // when the clipboard is empty.
    std::optional<QByteArray> clipboard() const;

private:
    XWayland m_xwayland;
    QProcess m_sway;
    QByteArray m_folder;
    QByteArray m_waylandDisplay;
    QByteArray m_x11Display;
    QByteArray m_ipcSocket;
    QByteArray m_error;
};

} // namespace sendova::test
