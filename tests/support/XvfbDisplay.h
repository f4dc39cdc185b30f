#pragma once

#include <QByteArray>
#include <QProcess>

#include <optional>

namespace sendova::test {

// A private X server for tests that need a real display: the clipboard of
// X11 lives in the server and its owners, which the offscreen platform does
// not have. Xvfb picks a free display number itself.
class XvfbDisplay
{
public:
    XvfbDisplay() = default;
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;
    ~XvfbDisplay();

    // Starts the server and waits until it accepts clients. On failure,
    // errorText() says why.
    bool start();
    // start(), then points this process and the programs it starts at the
    // display (and at X rather than Wayland); says why on stderr when it
    // cannot.
    bool startForThisProcess();
    // ":N", for DISPLAY.
    QByteArray name() const { return m_name; }
    QByteArray errorText() const { return m_error; }

private:
    QProcess m_xvfb;
    QByteArray m_name;
    QByteArray m_error;
};

// The clipboard's text as another desktop program reads it. xclip waits for
// ever when the owner it asked goes away before answering (a program handing
// its copy to its keeper as it exits), so each read gets a few seconds and is
// then asked again; events keep flowing meanwhile, as the owner may be this
// very process. Nothing when nobody owns the clipboard.
std::optional<QByteArray> readClipboard();

} // namespace sendova::test
