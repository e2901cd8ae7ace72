#include "relayclient/PhonePairing.h"

#include "model/DesktopState.h"
#include "relayclient/RelayClient.h"

#include <QJsonArray>

#include <algorithm>
#include <chrono>

namespace tellwire {

PhonePairing::PhonePairing(RelayClient& client, QObject* parent)
    : QObject(parent)
    , client_(client)
{
    renewal_.setSingleShot(true);
    connect(&renewal_, &QTimer::timeout, this, &PhonePairing::requestLink);
}

void PhonePairing::start()
{
    requestLink();
    refreshPhones();
}

void PhonePairing::stop()
{
    renewal_.stop();
}

void PhonePairing::requestLink()
{
    client_.api().object(QStringLiteral("/v1/pairings"), QJsonObject(), this,
                         [this](const std::optional<APIError>& error, const QJsonObject& reply) {
                             if (error) {
                                 client_.state().setError(error->errorDescription());
                                 return;
                             }
                             const QString secret = reply.value(QLatin1String("secret")).toString();
                             const QJsonArray links = reply.value(QLatin1String("links")).toArray();
                             // Without a listener on the network, the page on this machine.
                             link_ = links.isEmpty() ? client_.state().base() + QStringLiteral("/#pair=") + secret
                                                     : links.first().toString();
                             fingerprint_ = reply.value(QLatin1String("fingerprint")).toString();
                             // Renewed half a minute before the relay forgets it.
                             const int seconds = reply.value(QLatin1String("expires_in")).toInt(300);
                             renewal_.start(std::chrono::seconds(std::max(seconds - 30, 10)));
                             emit changed();
                         });
}

void PhonePairing::refreshPhones()
{
    client_.api().object(QStringLiteral("/v1/devices"), std::nullopt, this,
                         [this](const std::optional<APIError>& error, const QJsonObject& reply) {
                             if (error)
                                 return client_.state().setError(error->errorDescription());
                             phones_.clear();
                             for (const QJsonValue& value : reply.value(QLatin1String("devices")).toArray()) {
                                 const QJsonObject device = value.toObject();
                                 if (device.value(QLatin1String("role")).toString() != QLatin1String("phone"))
                                     continue;
                                 phones_.append({device.value(QLatin1String("device_id")).toString(),
                                                 device.value(QLatin1String("name")).toString(),
                                                 QDateTime::fromMSecsSinceEpoch(
                                                     qint64(device.value(QLatin1String("last_seen")).toDouble()))});
                             }
                             emit changed();
                         });
}

void PhonePairing::remove(const QString& deviceId)
{
    client_.api().object(QStringLiteral("/v1/devices/remove"), QJsonObject{{QStringLiteral("device_id"), deviceId}},
                         this, [this](const std::optional<APIError>& error, const QJsonObject&) {
                             if (error)
                                 client_.state().setError(error->errorDescription());
                             refreshPhones();
                         });
}

} // namespace tellwire
