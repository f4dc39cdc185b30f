#include "platform/ScreenshotPortal.h"

#include <QDBusAbstractInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QRandomGenerator>

#include <QCoroDBus>
#include <QCoroSignal>

#include <memory>
#include <optional>
#include <utility>

namespace sendova {

namespace {

// The portal's answers on its Request object.
enum ResponseCode : uint { success = 0, cancelledByUser = 1 };

QString requestPath(const QDBusConnection &bus, const QString &token)
{
    // The portal names the request after the caller's unique name (":1.42"
    // becomes "1_42") and the token, so that the answer can be listened for
    // before the call is made: it may come before the call's own reply.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

// The portal's Request object of one call, for its one signal.
class RequestInterface : public QDBusAbstractInterface
{
    Q_OBJECT

public:
    RequestInterface(const QDBusConnection &bus, const QString &path)
        : QDBusAbstractInterface(QLatin1String(ScreenshotPortal::serviceName), path,
                                 ScreenshotPortal::requestInterface, bus, nullptr)
    {}

Q_SIGNALS:
    void Response(uint response, const QVariantMap &results);
};

} // namespace

QCoro::Task<bool> ScreenshotPortal::available(QDBusConnection bus)
{
    if (!bus.isConnected())
        co_return false;
    QDBusMessage question = QDBusMessage::createMethodCall(
        QLatin1String(serviceName), QLatin1String(objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    question << QLatin1String(interfaceName) << QStringLiteral("version");
    QDBusPendingCall call = bus.asyncCall(question);
    const QDBusMessage answer = co_await call;
    co_return answer.type() == QDBusMessage::ReplyMessage;
}

QCoro::Task<ScreenshotPortal::Outcome> ScreenshotPortal::take(QDBusConnection bus, QString parentWindow)
{
    if (!bus.isConnected())
        co_return Outcome{Outcome::Kind::failed, {}, QStringLiteral("no session bus")};
    const QString token = QStringLiteral("sendova%1").arg(QRandomGenerator::global()->generate());
    std::optional<std::pair<uint, QVariantMap>> answer;
    const auto listen = [&bus, &answer](const QString &path) {
        auto request = std::make_unique<RequestInterface>(bus, path);
        QObject::connect(request.get(), &RequestInterface::Response,
                         [&answer](uint code, const QVariantMap &results) { answer.emplace(code, results); });
        return request;
    };
    std::unique_ptr<RequestInterface> request = listen(requestPath(bus, token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
                                       QLatin1String(interfaceName), QStringLiteral("Screenshot"));
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("interactive"), true},
                              {QStringLiteral("modal"), true}};
    call << parentWindow << options;
    // The call returns at once; the answer comes when the user is done.
    QDBusPendingCall pending = bus.asyncCall(call);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage)
        co_return Outcome{Outcome::Kind::failed, {}, reply.errorMessage()};
    // A portal older than handle_token names a path of its own.
    const QString handle = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    if (!answer && !handle.isEmpty() && handle != request->path())
        request = listen(handle);
    if (!answer)
        co_await qCoro(request.get(), &RequestInterface::Response);

    const auto [code, results] = *answer;
    if (code == cancelledByUser)
        co_return Outcome{Outcome::Kind::cancelled, {}, {}};
    if (code != success)
        co_return Outcome{Outcome::Kind::failed,
                          {},
                          QStringLiteral("the desktop's screenshot tool gave up (response %1)").arg(code)};
    const QUrl file(results.value(QStringLiteral("uri")).toString(), QUrl::StrictMode);
    if (!file.isLocalFile())
        co_return Outcome{
            Outcome::Kind::failed, {}, QStringLiteral("the desktop's screenshot tool named no local file")};
    co_return Outcome{Outcome::Kind::taken, file, {}};
}

} // namespace sendova

#include "ScreenshotPortal.moc"
