// A user's first minute with the built `sendova`, as its own process on a
// private X server and the test session's bus: with and without a panel's
// status-notifier watcher, with no account yet or with one, and every way a
// user or the desktop has of ending it. The windows are looked at the way a
// window manager sees them, through the X server.
#include "../support/XvfbDisplay.h"
#include "ChildSignal.h"
#include "TestStatusNotifierWatcher.h"
#include "config/ConfigService.h"
#include "config/KeychainService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <memory>

using namespace sendova;
using namespace sendova::test;

namespace {

const QString busName = u"com.sendova.Sendova"_qs;

struct TopLevel
{
    xcb_window_t id = 0;
    QString title;
    QSize size;
};

// The X server's view: the viewable top-level windows of one process.
class XServer
{
public:
    XServer() : m_connection(xcb_connect(nullptr, nullptr)) {}
    ~XServer() { xcb_disconnect(m_connection); }

    QList<TopLevel> windowsOf(qint64 pid)
    {
        QList<TopLevel> found;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        auto *tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, root), nullptr);
        if (!tree)
            return found;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t window = children[i];
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> attributes(
                xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window),
                                                nullptr),
                &free);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            const QByteArray owner = property(window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
            if (owner.size() != 4 || *reinterpret_cast<const quint32 *>(owner.constData()) != quint32(pid))
                continue;
            std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> geometry(
                xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr), &free);
            found << TopLevel{window,
                              QString::fromUtf8(property(window, "_NET_WM_NAME", atom("UTF8_STRING"))),
                              geometry ? QSize(geometry->width, geometry->height) : QSize()};
        }
        free(tree);
        return found;
    }

    // What a window manager sends when the user clicks the close button.
    void close(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, false, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&message));
        xcb_flush(m_connection);
    }

private:
    xcb_atom_t atom(const char *name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, qstrlen(name), name),
                                  nullptr),
            &free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    QByteArray property(xcb_window_t window, const char *name, xcb_atom_t type)
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
            xcb_get_property_reply(
                m_connection, xcb_get_property(m_connection, 0, window, atom(name), type, 0, 1024), nullptr),
            &free);
        if (!reply)
            return {};
        return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }

    xcb_connection_t *m_connection;
};

// The status item as a panel reads it: the menu's labels by id.
void collectLabels(const QDBusArgument &item, QMap<int, QString> &labels)
{
    int id = 0;
    QVariantMap properties;
    item.beginStructure();
    item >> id >> properties;
    labels.insert(id, properties.value(u"label"_qs).toString());
    item.beginArray();
    while (!item.atEnd()) {
        QDBusVariant child;
        item >> child;
        collectLabels(qvariant_cast<QDBusArgument>(child.variant()), labels);
    }
    item.endArray();
    item.endStructure();
}

QVariant itemProperty(const QString &service, const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, u"/StatusNotifierItem"_qs,
                                                      u"org.freedesktop.DBus.Properties"_qs, u"Get"_qs);
    get << u"org.kde.StatusNotifierItem"_qs << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    return reply.arguments().isEmpty() ? QVariant()
                                       : qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
}

} // namespace

class FirstMinuteTest : public QObject
{
    Q_OBJECT

    TestStatusNotifierWatcher m_watcher;
    bool m_watching = false;
    qsizetype m_itemsBefore = 0;

    static void activateAction(const QString &action)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            busName, u"/com/sendova/Sendova"_qs, u"org.freedesktop.Application"_qs, u"ActivateAction"_qs);
        call << action << QVariantList() << QVariantMap();
        QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
    }

    // The status item of the program started last; those of earlier ones stay listed.
    QString itemService() const { return m_watcher.registeredItems().value(m_itemsBefore).section(u'/', 0, 0); }

    // The tray menu's "Quit Sendova", clicked as a panel does.
    bool clickTrayQuit()
    {
        const QString service = itemService();
        if (service.isEmpty())
            return false;
        const QString menu = qvariant_cast<QDBusObjectPath>(itemProperty(service, u"Menu"_qs)).path();
        QDBusMessage layout =
            QDBusMessage::createMethodCall(service, menu, u"com.canonical.dbusmenu"_qs, u"GetLayout"_qs);
        layout << 0 << -1 << QStringList();
        const QDBusMessage reply = QDBusConnection::sessionBus().call(layout);
        if (reply.arguments().size() < 2)
            return false;
        QMap<int, QString> labels;
        collectLabels(qvariant_cast<QDBusArgument>(reply.arguments().at(1)), labels);
        const int quit = labels.key(u"Quit Sendova"_qs, -1);
        if (quit < 0)
            return false;
        QDBusMessage event =
            QDBusMessage::createMethodCall(service, menu, u"com.canonical.dbusmenu"_qs, u"Event"_qs);
        event << quit << u"clicked"_qs << QVariant::fromValue(QDBusVariant(0)) << 0u;
        QDBusConnection::sessionBus().call(event, QDBus::NoBlock);
        return true;
    }

private Q_SLOTS:
    void cleanup() { KeychainService::shared().deleteAPIKey(); }

    // Whatever sheet is up, every way out ends the program at once: the
    // window's close button, the tray menu, the desktop's Quit action and
    // the signal a session's end sends.
    void everyWayOutEndsIt_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("way");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("first start, no tray: close the setup") << false << false << u"close"_qs << 0;
        QTest::newRow("first start: tray menu Quit") << false << true << u"tray"_qs << 0;
        QTest::newRow("first start: SIGTERM") << false << true << u"SIGTERM"_qs << 143;
        QTest::newRow("settings open: tray menu Quit") << true << true << u"tray"_qs << 0;
        QTest::newRow("settings open: Quit action") << true << true << u"action"_qs << 0;
        QTest::newRow("settings open: SIGTERM") << true << false << u"SIGTERM"_qs << 143;
    }

    void everyWayOutEndsIt()
    {
        QFETCH(bool, configured);
        QFETCH(bool, tray);
        QFETCH(QString, way);
        QFETCH(int, exitCode);
        if (tray && !m_watching)
            QVERIFY(m_watching = m_watcher.start());
        else if (!tray && m_watching)
            m_watcher.stop(), m_watching = false;

        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
        environment.insert(u"XDG_CONFIG_HOME"_qs, home.filePath(u"config"_qs));
        KeychainService::shared().deleteAPIKey();
        if (configured) {
            AppConfig config = AppConfig::defaults();
            config._serverUrl = u"http://127.0.0.1:9"_qs;
            config.apiKey = u"sk_first"_qs;
            config.showNotifications = false;
            ConfigService(home.filePath(u"data/Sendova"_qs)).saveConfig(config);
        }

        m_itemsBefore = m_watcher.registeredItems().size();
        QProcess sendova;
        sendova.setProcessEnvironment(environment);
        sendova.start(QStringLiteral(SENDOVA_BINARY));
        QVERIFY(sendova.waitForStarted());
        XServer x;
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(busName),
                                 10000);
        if (tray)
            QTRY_VERIFY_WITH_TIMEOUT(!itemService().isEmpty(), 10000);
        if (configured)
            activateAction(u"settings"_qs);
        // The setup or the settings: a window of the program's own.
        QTRY_VERIFY_WITH_TIMEOUT(!x.windowsOf(sendova.processId()).isEmpty(), 10000);

        if (!configured && !tray) {
            // Past the wait for a panel, the setup is still the one window,
            // and a file handed over before sign-in changes nothing on screen.
            QTest::qWait(5500);
            QFile notes(home.filePath(u"notes.txt"_qs));
            QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("notes\n") == 6 && notes.flush());
            QProcess second;
            second.setProcessEnvironment(environment);
            second.start(QStringLiteral(SENDOVA_BINARY), {notes.fileName()});
            QVERIFY(second.waitForFinished(10000));
            QTest::qWait(300);
            const QList<TopLevel> windows = x.windowsOf(sendova.processId());
            QCOMPARE(windows.size(), 1);
            QCOMPARE(windows.first().title, u"Sendova"_qs);
            QCOMPARE(windows.first().size.width(), 400);
        }
        if (tray && !configured) {
            // What panels read out as the item's name.
            const QString service = itemService();
            QCOMPARE(itemProperty(service, u"Title"_qs).toString(), u"Sendova"_qs);
            const QDBusArgument toolTip = qvariant_cast<QDBusArgument>(itemProperty(service, u"ToolTip"_qs));
            QString iconName, title;
            toolTip.beginStructure();
            toolTip >> iconName;
            toolTip.beginArray();
            while (!toolTip.atEnd()) {
                int width = 0, height = 0;
                QByteArray pixels;
                toolTip.beginStructure();
                toolTip >> width >> height >> pixels;
                toolTip.endStructure();
            }
            toolTip.endArray();
            toolTip >> title;
            toolTip.endStructure();
            QCOMPARE(title, u"Sendova"_qs);
        }

        QElapsedTimer clock;
        clock.start();
        if (way == u"close")
            x.close(x.windowsOf(sendova.processId()).first().id);
        else if (way == u"tray")
            QVERIFY(clickTrayQuit());
        else if (way == u"action")
            activateAction(u"quit"_qs);
        else
            QVERIFY(signalChild(sendova.processId(), SIGTERM));
        const bool ended = sendova.waitForFinished(1000);
        if (!ended) {
            signalChild(sendova.processId(), SIGKILL);
            sendova.waitForFinished();
        }
        QVERIFY2(ended, qPrintable(u"still running after %1 ms"_qs.arg(clock.elapsed())));
        QCOMPARE(sendova.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sendova.exitCode(), exitCode);
    }
};

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.startForThisProcess())
        return 1;
    QCoreApplication app(argc, argv);
    FirstMinuteTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FirstMinuteTest.moc"
