// Starts a tray program under a status-notifier watcher of its own on the
// session bus and the X display of the environment, and prints, on one
// line: milliseconds from start to the status item's registration,
// milliseconds from the click to the window the click shows being mapped,
// the resident memory (KiB) a few seconds after a second click closed it,
// the resident memory before the first click, and milliseconds from a third
// click to the window mapped again.
//
//   sendova_bench_tray SETTLE_SECONDS PROGRAM [ARGUMENT…]
#include "TestStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <memory>

using sendova::test::TestStatusNotifierWatcher;

namespace {

// Waits for a map (or unmap) of a top-level window, the Qt event loop
// running meanwhile so that the watcher keeps answering.
bool awaitWindow(xcb_connection_t *display, uint8_t type, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(display)) {
            const bool match = (event->response_type & 0x7f) == type;
            std::free(event);
            if (match)
                return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return false;
}

bool awaitRegistration(TestStatusNotifierWatcher &watcher, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (watcher.registeredItems().isEmpty() && waited.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return !watcher.registeredItems().isEmpty();
}

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void settle(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
}

int fail(const char *what)
{
    std::fprintf(stderr, "sendova_bench_tray: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3)
        return fail("usage: sendova_bench_tray SETTLE_SECONDS PROGRAM [ARGUMENT…]");
    const int settleMs = arguments.at(1).toInt() * 1000;

    TestStatusNotifierWatcher watcher;
    if (!watcher.start())
        return fail("cannot own org.kde.StatusNotifierWatcher on the session bus");
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t *)> display(xcb_connect(nullptr, nullptr),
                                                                            xcb_disconnect);
    if (xcb_connection_has_error(display.get()))
        return fail("cannot reach the X display");
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(display.get())).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(display.get(), screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(display.get());

    QProcess program;
    // Its standard output is not ours: the figures go there.
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    program.start(arguments.at(2), arguments.mid(3));
    if (!program.waitForStarted())
        return fail("the program did not start");
    if (!awaitRegistration(watcher, 20000))
        return fail("no status item registered within 20 s");
    const qint64 registeredMs = clock.elapsed();
    // What start-up still does after the item shows (reading recents, say)
    // is not part of the click.
    settle(1000);
    while (xcb_generic_event_t *event = xcb_poll_for_event(display.get()))
        std::free(event);

    const long restingRss = residentKiB(program.processId());
    const QString item = watcher.registeredItems().constFirst();
    clock.restart();
    watcher.activate(item);
    if (!awaitWindow(display.get(), XCB_MAP_NOTIFY, 5000))
        return fail("the click showed no window within 5 s");
    const qint64 shownMs = clock.elapsed();
    settle(1000);
    watcher.activate(item);
    if (!awaitWindow(display.get(), XCB_UNMAP_NOTIFY, 5000))
        return fail("the second click did not close the window within 5 s");
    settle(settleMs);
    const long rss = residentKiB(program.processId());
    // Where that memory lies, per mapping, for a profile (TRAY_PROBE_SMAPS=file).
    if (const QString smaps = qEnvironmentVariable("TRAY_PROBE_SMAPS"); !smaps.isEmpty()) {
        QFile from(QStringLiteral("/proc/%1/smaps").arg(program.processId()));
        QFile to(smaps);
        if (from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly))
            to.write(from.readAll());
    }
    // Opened again, from rest: what it released on closing comes back.
    while (xcb_generic_event_t *event = xcb_poll_for_event(display.get()))
        std::free(event);
    clock.restart();
    watcher.activate(item);
    if (!awaitWindow(display.get(), XCB_MAP_NOTIFY, 5000))
        return fail("the third click showed no window within 5 s");
    const qint64 reshownMs = clock.elapsed();
    // A moment on screen, for a look at what came back (TRAY_PROBE_HOLD=ms).
    settle(qEnvironmentVariableIntValue("TRAY_PROBE_HOLD"));

    program.terminate();
    if (!program.waitForFinished(5000))
        program.kill();
    std::printf("%lld %lld %ld %ld %lld\n", registeredMs, shownMs, rss, restingRss, reshownMs);
    return rss > 0 ? 0 : fail("cannot read the program's resident memory");
}
