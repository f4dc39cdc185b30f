#include "XvfbDisplay.h"

#include <QTest>

namespace sendova::test {

XvfbDisplay::~XvfbDisplay()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

bool XvfbDisplay::start()
{
    // Xvfb writes the display number once it listens for clients; its log
    // goes to standard error. -noreset: a server that had to pass over a
    // number another test's server holds loses its own listening socket when
    // it resets, which it does each time its last client leaves; the next
    // program the test starts then cannot connect.
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.start(QStringLiteral("Xvfb"),
                 QStringLiteral("-displayfd 1 -noreset -nolisten tcp -screen 0 640x480x24").split(u' '));
    while (!m_xvfb.canReadLine() && m_xvfb.waitForReadyRead(30000)) {
    }
    if (!m_xvfb.canReadLine()) {
        m_error = "Xvfb did not start (is the xvfb package installed?)";
        return false;
    }
    m_name = ':' + m_xvfb.readLine().trimmed();
    return true;
}

std::optional<QByteArray> readClipboard()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), QStringLiteral("UTF8_STRING")});
        if (!xclip.waitForStarted())
            return std::nullopt;
        if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 3000)) {
            xclip.kill();
            xclip.waitForFinished();
            continue;
        }
        if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0)
            return std::nullopt;
        return xclip.readAllStandardOutput();
    }
    qWarning("xclip got no answer from the clipboard's owner in five tries");
    return std::nullopt;
}

bool XvfbDisplay::startForThisProcess()
{
    if (!start()) {
        std::fprintf(stderr, "%s\n", m_error.constData());
        return false;
    }
    qputenv("DISPLAY", m_name);
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

} // namespace sendova::test
