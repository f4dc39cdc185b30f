#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

namespace sendova::test {

// What a desktop panel runs to collect status items: it owns
// org.kde.StatusNotifierWatcher on a connection of its own, reports a tray
// host as registered, and records the items that register with it. It
// answers on a thread of its own, since Qt asks it with a blocking call from
// the thread of the program under test.
class TestStatusNotifierWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit TestStatusNotifierWatcher(QObject *parent = nullptr);
    ~TestStatusNotifierWatcher() override;

    bool start(const QString &busAddress = QString());
    void stop();

    QStringList registeredItems() const;
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    // What the panel does when the user clicks the item: calls Activate on
    // the item that registered as service (its bus name, or a path on it),
    // without waiting for the answer.
    void activate(const QString &service);

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service);
    void RegisterStatusNotifierHost(const QString &service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierItemUnregistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    bool connectOnThread(const QString &busAddress);
    void disconnectOnThread();

    QThread m_thread;
    QString m_connectionName;
    mutable QMutex m_lock;
    QStringList m_items;
};

} // namespace sendova::test
