#include "TestStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace sendova::test {

namespace {
const QString serviceName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString objectPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

TestStatusNotifierWatcher::TestStatusNotifierWatcher(QObject *parent) : QObject(parent)
{
    m_thread.start();
}

TestStatusNotifierWatcher::~TestStatusNotifierWatcher()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

QStringList TestStatusNotifierWatcher::registeredItems() const
{
    const QMutexLocker locker(&m_lock);
    return m_items;
}

bool TestStatusNotifierWatcher::start(const QString &busAddress)
{
    if (thread() != &m_thread)
        moveToThread(&m_thread);
    bool started = false;
    QMetaObject::invokeMethod(
        this, [this, busAddress, &started] { started = connectOnThread(busAddress); },
        Qt::BlockingQueuedConnection);
    return started;
}

bool TestStatusNotifierWatcher::connectOnThread(const QString &busAddress)
{
    static int instances = 0;
    m_connectionName = QStringLiteral("test-status-notifier-watcher-%1").arg(++instances);
    QDBusConnection bus = busAddress.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName)
                              : QDBusConnection::connectToBus(busAddress, m_connectionName);
    return bus.isConnected() &&
           bus.registerObject(objectPath, this,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                  QDBusConnection::ExportAllProperties) &&
           bus.registerService(serviceName);
}

void TestStatusNotifierWatcher::stop()
{
    if (thread() == &m_thread && m_thread.isRunning())
        QMetaObject::invokeMethod(this, &TestStatusNotifierWatcher::disconnectOnThread,
                                  Qt::BlockingQueuedConnection);
}

void TestStatusNotifierWatcher::disconnectOnThread()
{
    // Back to the thread that will destroy it.
    moveToThread(QCoreApplication::instance()->thread());
    if (m_connectionName.isEmpty())
        return;
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(serviceName);
    bus.unregisterObject(objectPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_connectionName.clear();
}

void TestStatusNotifierWatcher::activate(const QString &service)
{
    // An item registers either its bus name (the item sits at
    // /StatusNotifierItem) or an object path on the caller's connection.
    const QStringList parts = service.split(QLatin1Char('/'));
    const QString name = service.startsWith(QLatin1Char('/')) ? QString() : parts.first();
    const QString path = service.contains(QLatin1Char('/')) ? service.mid(service.indexOf(QLatin1Char('/')))
                                                            : QStringLiteral("/StatusNotifierItem");
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, path, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    call << 0 << 0;
    QMetaObject::invokeMethod(this, [this, call] { QDBusConnection(m_connectionName).asyncCall(call); });
}

void TestStatusNotifierWatcher::RegisterStatusNotifierItem(const QString &service)
{
    const QString item = service.startsWith(QLatin1Char('/')) ? message().service() + service : service;
    {
        const QMutexLocker locker(&m_lock);
        m_items << item;
    }
    Q_EMIT StatusNotifierItemRegistered(item);
}

void TestStatusNotifierWatcher::RegisterStatusNotifierHost(const QString &)
{
    Q_EMIT StatusNotifierHostRegistered();
}

} // namespace sendova::test
