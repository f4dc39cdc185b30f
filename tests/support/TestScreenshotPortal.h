#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QUrl>
#include <QVariantMap>

namespace sendova::test {

// The desktop portal's screenshot interface for tests: it owns
// org.freedesktop.portal.Desktop on a connection of its own and answers as
// the portal does, the call with the Request object's path and, a moment
// later, the Response signal on that object: code 0 with the picture's
// "uri", or 1 as when the user cancels the desktop's dialog.
class TestScreenshotPortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
    Q_PROPERTY(uint version READ version)

public:
    ~TestScreenshotPortal() override;

    // On the session bus, or the bus at busAddress.
    bool start(const QString &busAddress = QString());
    void stop();
    uint version() const { return 2; }

    // The options of each call.
    QList<QVariantMap> calls;
    // What the next Response says.
    uint responseCode = 0;
    QUrl picture;

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString &parent_window, const QVariantMap &options);

private:
    QString m_connectionName = QStringLiteral("test-screenshot-portal");
};

} // namespace sendova::test
