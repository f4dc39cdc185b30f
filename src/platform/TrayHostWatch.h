#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

namespace sendova {

// Tells when the desktop can show a status item: a StatusNotifierWatcher is
// on the session bus and a tray host has registered with it. At login the
// panel may come up after the programs it starts, and Qt settles once per
// process whether there is a tray, the first time it is asked, so nobody may
// ask it before this has said yes.
class TrayHostWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char *watcherPath = "/StatusNotifierWatcher";

    explicit TrayHostWatch(QDBusConnection bus, QObject *parent = nullptr);

    // Asks the bus now and keeps watching; available() follows once, when
    // (or as soon as) a host is there.
    void start();
    bool isAvailable() const { return m_available; }

Q_SIGNALS:
    void available();

private Q_SLOTS:
    // Also the target of the watcher's StatusNotifierHostRegistered signal.
    void check();

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_serviceWatcher;
    bool m_available = false;
};

} // namespace sendova
