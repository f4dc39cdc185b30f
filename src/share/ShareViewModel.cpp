#include "share/ShareViewModel.h"

#include "platform/Clipboard.h"

#include <chrono>

namespace sendova {

void ShareSpeedMeter::start(double now)
{
    m_lastTime = now;
    m_lastBytes = 0;
}

std::optional<double> ShareSpeedMeter::update(qint64 totalSent, double now)
{
    const double elapsed = now - m_lastTime;
    if (elapsed < window)
        return std::nullopt;
    const double speed = double(totalSent - m_lastBytes) / elapsed;
    m_lastTime = now;
    m_lastBytes = totalSent;
    return speed;
}

ShareViewModel::ShareViewModel(QObject *parent)
    : QObject(parent), m_clock([] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
      })
{}

void ShareViewModel::setState(const ShareState &state)
{
    m_state = state;
    Q_EMIT stateChanged(m_state);
    Q_EMIT changed();
}

void ShareViewModel::setHashProgress(double value)
{
    m_hashProgress = value;
    Q_EMIT changed();
}

void ShareViewModel::setUploadProgress(double value)
{
    m_uploadProgress = value;
    Q_EMIT changed();
}

void ShareViewModel::setUploadSpeed(double value)
{
    m_uploadSpeed = value;
    Q_EMIT changed();
}

void ShareViewModel::setFileName(const QString &name)
{
    m_fileName = name;
    Q_EMIT changed();
}

void ShareViewModel::setFilesLeftOut(int count)
{
    m_filesLeftOut = count;
    Q_EMIT changed();
}

void ShareViewModel::setLinkCopied(bool copied)
{
    m_linkCopied = copied;
    Q_EMIT changed();
}

void ShareViewModel::cancel()
{
    if (m_onCancel)
        m_onCancel();
}

void ShareViewModel::complete()
{
    if (m_onComplete)
        m_onComplete();
}

void ShareViewModel::recordBodySent(qint64 totalSent, qint64 totalExpected)
{
    setUploadProgress(totalExpected > 0 ? double(totalSent) / double(totalExpected) : 0.0);
    if (const std::optional<double> speed = m_speedMeter.update(totalSent, m_clock()))
        setUploadSpeed(*speed);
}

void ShareViewModel::copyURL()
{
    if (m_resultURL)
        putOnClipboard(*m_resultURL);
}

void ShareViewModel::putOnClipboard(const QString &text)
{
    // The share program exits as soon as the user closes it; a link served
    // by this process alone would vanish with it. Setting the clipboard
    // replaces what it held: no clear first, which would leave the keeper of
    // an earlier link behind on X11 without telling it. Where the copy cannot
    // be confirmed the window shows the link instead of "copied".
    Clipboard::CopyResult copy = Clipboard::copyPersistently(text);
    // No keeper to be had: the window serves the link while it is open.
    if (copy.outcome == Clipboard::Outcome::failed || copy.outcome == Clipboard::Outcome::noDisplay)
        copy = Clipboard::writeText(text);
    setLinkCopied(copy.confirmed());
}

QString ShareViewModel::formatSpeed(double bytesPerSecond)
{
    if (bytesPerSecond >= 1'000'000)
        return QString::asprintf("%.1f MB/s", bytesPerSecond / 1'000'000);
    if (bytesPerSecond >= 1000)
        return QString::asprintf("%.0f KB/s", bytesPerSecond / 1000);
    return QString::asprintf("%.0f B/s", bytesPerSecond);
}

QString ShareViewModel::notConfiguredText()
{
    return QStringLiteral("Sendova no está configurado. Abre la app principal primero.");
}

QString ShareViewModel::unknownErrorText()
{
    return QStringLiteral("Error desconocido");
}

QString ShareViewModel::invalidURLText()
{
    return QStringLiteral("URL inválida");
}

} // namespace sendova
