#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace sendova {

// One running instance per session, the freedesktop way: the first process
// owns the application id on the session bus and answers
// org.freedesktop.Application there; a later one hands its files and links
// to it and leaves. The desktop uses the same interface to start the program
// by name (DBusActivatable) and to give it what the user opened.
class ApplicationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static constexpr const char *applicationId = "com.sendova.Sendova";
    static constexpr const char *objectPath = "/com/sendova/Sendova";
    static constexpr const char *interfaceName = "org.freedesktop.Application";

    explicit ApplicationService(QDBusConnection bus, QObject *parent = nullptr);
    ~ApplicationService() override;

    // Serves the interface and takes the name. False when another process
    // owns it already (or there is no bus): this one is then not the instance.
    bool registerInstance();

    // What the command line names, as URIs: links stay as they are, paths
    // (relative ones against directory) become file: URIs. A name that exists
    // as a file is a path even when it looks like a link.
    static QStringList urisFromArguments(const QStringList &arguments, const QString &directory);

    // From a second process: Open with the URIs, or Activate when there are
    // none. Returns the bus's error text, empty on success.
    static QString forward(QDBusConnection bus, const QStringList &uris);

public Q_SLOTS:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &actionName, const QVariantList &parameter,
                        const QVariantMap &platformData);

Q_SIGNALS:
    void activateRequested();
    void openRequested(const QStringList &uris);
    void actionRequested(const QString &actionName);

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};

} // namespace sendova
