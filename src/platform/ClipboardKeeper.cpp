// sendova-clipboard-keeper: serves one text on the clipboard after the
// program that copied it has exited, and leaves as soon as the clipboard is
// no longer its own, whoever took or cleared it.
//
// Protocol with Clipboard::copyPersistently: the text arrives as UTF-8 on
// standard input up to end-of-file; once this process owns the clipboard it
// answers "ready <pid> <way>" on standard output, where the way is
// "data-control" (a Wayland compositor confirmed the selection) or "x11" (the
// X server did; under Wayland that is XWayland, whose selection reaches
// Wayland programs only where the compositor passes it on). Any other ending
// means failure.
//
// With --paste it serves the other way round, for the command line, which
// has no Qt Gui of its own: it reads what a paste would upload and writes
// "file URL", "image", "text", "unreadable image" or "nothing" on a line,
// then the image's PNG or the text's UTF-8 up to end-of-file. On Wayland it reads through
// data-control where the compositor offers it; elsewhere (X11, and GNOME,
// whose compositor passes the clipboard on to XWayland) through X11.

#include "platform/ClipboardContent.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <wayland-client.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// How long a paste may take to read the text before the keeper gives up on it.
constexpr int pasteTimeoutMs = 5000;
// X11 tells the owner about most changes, but not about a clear stamped with
// the very time of our claim; a cheap look now and then catches that too.
constexpr int ownershipCheckMs = 2000;

// Reads to end-of-file; with a time limit, false once it has passed.
bool readAll(int fd, QByteArray &into, int timeoutMs = -1)
{
    QElapsedTimer waited;
    waited.start();
    char buffer[65536];
    for (;;) {
        if (timeoutMs >= 0) {
            const qint64 left = timeoutMs - waited.elapsed();
            pollfd waitFor{fd, POLLIN, 0};
            const int ready = left > 0 ? ::poll(&waitFor, 1, int(left)) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        into.append(buffer, n);
    }
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype written = 0;
    while (written < data.size()) {
        pollfd waitFor{fd, POLLOUT, 0};
        const int ready = ::poll(&waitFor, 1, pasteTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

bool announceReady(const char *way)
{
    const QByteArray answer = "ready " + QByteArray::number(qint64(::getpid())) + ' ' + way + '\n';
    if (::write(STDOUT_FILENO, answer.constData(), size_t(answer.size())) != answer.size())
        return false;
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::close(devNull);
    }
    return true;
}

// Wayland: a compositor takes a selection only from the client with keyboard
// focus, which a keeper never has, and offers it only to that client too. The
// data-control protocol (wlroots compositors, KWin, Hyprland) lets a client
// without focus set and read it, and tells it when anything replaces or
// clears it.
class DataControlConnection
{
public:
    DataControlConnection() = default;
    DataControlConnection(const DataControlConnection &) = delete;
    DataControlConnection &operator=(const DataControlConnection &) = delete;
    ~DataControlConnection()
    {
        if (m_manager)
            zwlr_data_control_manager_v1_destroy(m_manager);
        if (m_seat)
            wl_seat_destroy(m_seat);
        if (m_registry)
            wl_registry_destroy(m_registry);
        if (m_display)
            wl_display_disconnect(m_display);
    }

    // False when there is no compositor, or it offers no data-control.
    bool open()
    {
        m_display = wl_display_connect(nullptr);
        if (!m_display)
            return false;
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &registryListener, this);
        return wl_display_roundtrip(m_display) >= 0 && m_seat && m_manager;
    }

    wl_display *display() const { return m_display; }
    zwlr_data_control_device_v1 *createDevice() const
    {
        return zwlr_data_control_manager_v1_get_data_device(m_manager, m_seat);
    }
    zwlr_data_control_source_v1 *createSource() const
    {
        return zwlr_data_control_manager_v1_create_data_source(m_manager);
    }

private:
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
    {
        auto *self = static_cast<DataControlConnection *>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
            self->m_seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, extManagerInterface().name) == 0) {
            // The standardised protocol wins over the wlroots one it came from.
            if (self->m_manager)
                zwlr_data_control_manager_v1_destroy(self->m_manager);
            self->m_manager = static_cast<zwlr_data_control_manager_v1 *>(
                wl_registry_bind(registry, name, &extManagerInterface(), 1));
            self->m_standard = true;
        } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
                   !self->m_standard) {
            self->m_manager = static_cast<zwlr_data_control_manager_v1 *>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        }
    }
    static void globalRemoved(void *, wl_registry *, uint32_t) {}

    // ext_data_control_v1 has the requests and events of the wlroots protocol
    // in the same order, so its objects are spoken to through the same
    // generated code; only the manager is bound under its own name.
    static const wl_interface &extManagerInterface()
    {
        static const wl_interface manager = [] {
            wl_interface copy = zwlr_data_control_manager_v1_interface;
            copy.name = "ext_data_control_manager_v1";
            copy.version = 1;
            return copy;
        }();
        return manager;
    }

    static constexpr wl_registry_listener registryListener{&global, &globalRemoved};

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    zwlr_data_control_manager_v1 *m_manager = nullptr;
    bool m_standard = false;
};

class DataControlKeeper
{
public:
    enum class Result { unavailable, failed, served };

    explicit DataControlKeeper(QByteArray text) : m_text(std::move(text)) {}
    DataControlKeeper(const DataControlKeeper &) = delete;
    DataControlKeeper &operator=(const DataControlKeeper &) = delete;
    ~DataControlKeeper()
    {
        if (m_offer)
            zwlr_data_control_offer_v1_destroy(m_offer);
        if (m_source)
            zwlr_data_control_source_v1_destroy(m_source);
        if (m_device)
            zwlr_data_control_device_v1_destroy(m_device);
    }

    Result run()
    {
        if (!m_connection.open())
            return Result::unavailable;
        wl_display *display = m_connection.display();

        m_source = m_connection.createSource();
        zwlr_data_control_source_v1_add_listener(m_source, &sourceListener, this);
        for (const char *type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"})
            zwlr_data_control_source_v1_offer(m_source, type);
        m_device = m_connection.createDevice();
        zwlr_data_control_device_v1_add_listener(m_device, &deviceListener, this);
        zwlr_data_control_device_v1_set_selection(m_device, m_source);
        // Whatever the compositor makes of the request has arrived by the
        // end of a round trip: a refusal cancels the source at once.
        if (wl_display_roundtrip(display) < 0 || m_ended)
            return Result::failed;
        if (!announceReady("data-control"))
            return Result::failed;
        while (!m_ended && wl_display_dispatch(display) >= 0) {
        }
        return Result::served;
    }

private:
    static void send(void *data, zwlr_data_control_source_v1 *, const char *, int32_t fd)
    {
        auto *self = static_cast<DataControlKeeper *>(data);
        // A reader that takes its time must not hold up the next paste or the
        // news that the clipboard changed hands: a child writes.
        const pid_t writer = ::fork();
        if (writer == 0) {
            ::_exit(writeAll(fd, self->m_text) ? 0 : 1);
        }
        ::close(fd);
    }
    static void cancelled(void *data, zwlr_data_control_source_v1 *)
    {
        static_cast<DataControlKeeper *>(data)->m_ended = true;
    }

    static void dataOffer(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *) {}
    static void selection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
    {
        // Offers are only announced here, never read: each replaces the last.
        auto *self = static_cast<DataControlKeeper *>(data);
        if (self->m_offer)
            zwlr_data_control_offer_v1_destroy(self->m_offer);
        self->m_offer = offer;
    }
    static void finished(void *data, zwlr_data_control_device_v1 *)
    {
        static_cast<DataControlKeeper *>(data)->m_ended = true;
    }
    static void primarySelection(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
    {
        if (offer)
            zwlr_data_control_offer_v1_destroy(offer);
    }

    static constexpr zwlr_data_control_source_v1_listener sourceListener{&send, &cancelled};
    static constexpr zwlr_data_control_device_v1_listener deviceListener{&dataOffer, &selection, &finished,
                                                                         &primarySelection};

    const QByteArray m_text;
    DataControlConnection m_connection;
    zwlr_data_control_device_v1 *m_device = nullptr;
    zwlr_data_control_source_v1 *m_source = nullptr;
    zwlr_data_control_offer_v1 *m_offer = nullptr;
    bool m_ended = false;
};

// The selection as Qt's own clipboard presents it, so that a paste chooses
// among its types exactly as on X11: each type is received from its owner
// only when asked for (a copied file offers its picture too, and an image
// owner may offer a dozen encodings of one picture).
class OfferedSelection : public QMimeData
{
public:
    // The type's bytes, or nothing when the owner did not answer.
    using Receive = std::function<std::optional<QByteArray>(const QString &type)>;

    OfferedSelection(QStringList types, Receive receive) : m_types(std::move(types)), m_receive(std::move(receive))
    {
    }

    // Whether an owner failed to answer: what was read then is not the paste.
    bool failed() const { return m_failed; }

    QStringList formats() const override
    {
        QStringList formats = m_types;
        if (!textType().isEmpty())
            formats << QStringLiteral("text/plain");
        if (std::any_of(m_types.begin(), m_types.end(), isImageType))
            formats << QStringLiteral("application/x-qt-image");
        formats.removeDuplicates();
        return formats;
    }
    bool hasFormat(const QString &format) const override { return formats().contains(format); }

protected:
    QVariant retrieveData(const QString &format, QMetaType) const override
    {
        if (format == QLatin1String("text/plain")) {
            const QString type = textType();
            if (type.isEmpty())
                return {};
            const QByteArray bytes = receive(type);
            return type == QLatin1String("STRING") ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
        }
        // By the time a picture is asked for, every image type Qt reads has
        // been taken as copied; what is left is an image nothing here decodes.
        if (format == QLatin1String("application/x-qt-image"))
            return {};
        if (!m_types.contains(format))
            return {};
        return receive(format);
    }

private:
    static bool isImageType(const QString &type) { return type.startsWith(QLatin1String("image/")); }

    QString textType() const
    {
        for (const char *type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"}) {
            if (m_types.contains(QLatin1String(type)))
                return QLatin1String(type);
        }
        return {};
    }

    QByteArray receive(const QString &type) const
    {
        // Once an owner has kept us waiting, nothing more is asked of it.
        if (m_failed)
            return {};
        std::optional<QByteArray> bytes = m_receive(type);
        m_failed = !bytes;
        return bytes.value_or(QByteArray());
    }

    const QStringList m_types;
    const Receive m_receive;
    mutable bool m_failed = false;
};

// Reads the selection for --paste through data-control.
class DataControlPaste
{
public:
    enum class Result { unavailable, failed, read };

    DataControlPaste() = default;
    DataControlPaste(const DataControlPaste &) = delete;
    DataControlPaste &operator=(const DataControlPaste &) = delete;
    ~DataControlPaste()
    {
        for (const auto &[offer, types] : m_offers)
            zwlr_data_control_offer_v1_destroy(offer);
        if (m_device)
            zwlr_data_control_device_v1_destroy(m_device);
    }

    Result run(sendova::ClipboardContent &content)
    {
        if (!m_connection.open())
            return Result::unavailable;
        m_device = m_connection.createDevice();
        zwlr_data_control_device_v1_add_listener(m_device, &deviceListener, this);
        // A new device is told the current selection, with its types, at once.
        if (wl_display_roundtrip(m_connection.display()) < 0 || m_finished)
            return Result::failed;
        const auto selected = m_offers.find(m_selection);
        const QStringList types = selected == m_offers.end() ? QStringList() : selected->second;
        OfferedSelection data(types, [this](const QString &type) { return receive(type); });
        content = sendova::ClipboardContent::from(&data);
        return data.failed() ? Result::failed : Result::read;
    }

private:
    std::optional<QByteArray> receive(const QString &type)
    {
        int ends[2];
        if (!m_selection || ::pipe2(ends, O_CLOEXEC) != 0)
            return std::nullopt;
        zwlr_data_control_offer_v1_receive(m_selection, type.toUtf8().constData(), ends[1]);
        ::close(ends[1]);
        const int from = ends[0];
        QByteArray bytes;
        const bool complete = wl_display_flush(m_connection.display()) >= 0 && readAll(from, bytes, pasteTimeoutMs);
        ::close(from);
        if (!complete)
            return std::nullopt;
        return bytes;
    }

    static void offered(void *data, zwlr_data_control_offer_v1 *offer, const char *type)
    {
        static_cast<DataControlPaste *>(data)->m_offers[offer] << QString::fromUtf8(type);
    }
    static void dataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
    {
        auto *self = static_cast<DataControlPaste *>(data);
        self->m_offers[offer];
        zwlr_data_control_offer_v1_add_listener(offer, &offerListener, self);
    }
    static void selection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
    {
        static_cast<DataControlPaste *>(data)->m_selection = offer;
    }
    static void finished(void *data, zwlr_data_control_device_v1 *)
    {
        static_cast<DataControlPaste *>(data)->m_finished = true;
    }
    static void primarySelection(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *) {}

    static constexpr zwlr_data_control_offer_v1_listener offerListener{&offered};
    static constexpr zwlr_data_control_device_v1_listener deviceListener{&dataOffer, &selection, &finished,
                                                                         &primarySelection};

    DataControlConnection m_connection;
    zwlr_data_control_device_v1 *m_device = nullptr;
    // Every offer announced, with its types; each is destroyed at the end.
    std::map<zwlr_data_control_offer_v1 *, QStringList> m_offers;
    zwlr_data_control_offer_v1 *m_selection = nullptr;
    bool m_finished = false;
};

// X11, and Wayland desktops without data-control (GNOME), where the text goes
// to XWayland.
int serveThroughX11(int argc, char **argv, const QByteArray &text)
{
    // An unreachable display must end in a plain failure, not in the abort
    // (and the crash report) of a platform plugin that cannot start: the
    // minimal platform catches that case and is refused below.
    qputenv("QT_QPA_PLATFORM", "xcb;minimal");
    QGuiApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return 1;
    QClipboard *clipboard = QGuiApplication::clipboard();
    auto *data = new QMimeData;
    data->setText(QString::fromUtf8(text));
    clipboard->setMimeData(data, QClipboard::Clipboard);
    // ownsClipboard() reports what Qt asked for, not what the display
    // granted, and stays true when another program merely clears the
    // clipboard; mimeData() asks the display who owns it and hands back our
    // own object only when it is us.
    const auto owned = [clipboard, data] { return clipboard->mimeData(QClipboard::Clipboard) == data; };
    if (!owned())
        return 1;
    const auto leaveUnlessOwned = [owned] {
        if (!owned())
            QCoreApplication::quit();
    };
    QObject::connect(clipboard, &QClipboard::changed, &app, [leaveUnlessOwned](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            leaveUnlessOwned();
    });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &app, leaveUnlessOwned);
    check.start(ownershipCheckMs);

    if (!announceReady("x11"))
        return 1;
    return app.exec();
}

int answerPaste(sendova::ClipboardContent content)
{
    using sendova::ClipboardContent;
    // The command line waits for its answer anyway: converted here, at once.
    if (content.toPng) {
        const std::optional<QByteArray> png = content.toPng(content.bytes);
        content.kind = png ? ClipboardContent::Kind::image : ClipboardContent::Kind::unreadableImage;
        content.bytes = png.value_or(QByteArray());
    }
    QByteArray answer;
    switch (content.kind) {
    case ClipboardContent::Kind::file:
        answer = "file " + content.file.toEncoded() + '\n';
        break;
    case ClipboardContent::Kind::image:
        answer = "image\n" + content.bytes;
        break;
    case ClipboardContent::Kind::text:
        answer = "text\n" + content.bytes;
        break;
    case ClipboardContent::Kind::unreadableImage:
        answer = "unreadable image\n";
        break;
    case ClipboardContent::Kind::nothing:
        answer = "nothing\n";
        break;
    }
    return writeAll(STDOUT_FILENO, answer) ? 0 : 1;
}

int pasteThroughX11(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb;minimal");
    QGuiApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return 2;
    return answerPaste(sendova::ClipboardContent::from(QGuiApplication::clipboard()->mimeData()));
}

int paste(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        // Image formats other than PNG and BMP come from plugins, which are
        // looked for through the application.
        QCoreApplication app(argc, argv);
        sendova::ClipboardContent content;
        switch (DataControlPaste().run(content)) {
        case DataControlPaste::Result::read:
            return answerPaste(content);
        case DataControlPaste::Result::failed:
            return 1;
        case DataControlPaste::Result::unavailable:
            break;
        }
    }
    // GNOME offers no data-control; its compositor passes the clipboard on
    // to XWayland.
    return qEnvironmentVariableIsEmpty("DISPLAY") ? 2 : pasteThroughX11(argc, argv);
}

} // namespace

int main(int argc, char **argv)
{
    // Anything the copying program left open is not ours to keep alive.
    ::close_range(3, ~0U, 0);
    // A paste's reader that goes away must not take the keeper with it, and
    // the children that write pastes are reaped by the system.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGCHLD, SIG_IGN);
    // The keeper is no part of the desktop session: nothing to save or restore.
    qunsetenv("SESSION_MANAGER");

    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (!wayland && !x11)
        return 2;
    if (argc == 2 && std::strcmp(argv[1], "--paste") == 0) {
        // Nobody is left to read the paste once the caller is gone, and an
        // owner that keeps it waiting must not keep it alive.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        return paste(argc, argv);
    }

    QByteArray text;
    if (!readAll(STDIN_FILENO, text))
        return 1;

    if (wayland) {
        switch (DataControlKeeper(text).run()) {
        case DataControlKeeper::Result::served:
            return 0;
        case DataControlKeeper::Result::failed:
            return 1;
        case DataControlKeeper::Result::unavailable:
            break;
        }
    }
    // Without data-control a Wayland client that has no focus cannot set the
    // clipboard at all; XWayland is the one way left.
    if (!x11)
        return 1;
    return serveThroughX11(argc, argv, text);
}
