// TellwireRegisterFcitx5: adds Tellwire to the input methods of fcitx5's
// current group, keeping the user's own. A running fcitx5 is asked over the
// session bus (it would write its profile over ours when it exits); otherwise
// the profile file is edited.
#include "Fcitx5Profile.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

namespace {

struct Item {
    QString name;
    QString layout;
};
using Items = QList<Item>;

QDBusArgument& operator<<(QDBusArgument& argument, const Item& item)
{
    argument.beginStructure();
    argument << item.name << item.layout;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Item& item)
{
    argument.beginStructure();
    argument >> item.name >> item.layout;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Item)

namespace {

const QString kAdded = QStringLiteral("已将 Tellwire 语音输入加入 fcitx5 的输入法列表。");
const QString kPresent = QStringLiteral("Tellwire 语音输入已在 fcitx5 的输入法列表中。");

int report(const QString& line, bool failed = false)
{
    FILE* stream = failed ? stderr : stdout;
    std::fputs(line.toUtf8().append('\n').constData(), stream);
    return failed ? 1 : 0;
}

int failure(const QString& why)
{
    return report(QStringLiteral("无法更新 fcitx5 的输入法列表：") + why, true);
}

int throughFcitx5(const QDBusConnection& bus)
{
    qDBusRegisterMetaType<Item>();
    qDBusRegisterMetaType<Items>();
    // Plain messages: an interface object would introspect fcitx5 and keep what it learnt for good.
    const auto call = [&bus](const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral("/controller"), QStringLiteral("org.fcitx.Fcitx.Controller1"),
            method);
        message.setArguments(arguments);
        return bus.call(message);
    };
    const QDBusReply<QString> group = call(QStringLiteral("CurrentInputMethodGroup"));
    if (!group.isValid())
        return failure(group.error().message());
    const QDBusMessage info = call(QStringLiteral("InputMethodGroupInfo"), {group.value()});
    if (info.type() != QDBusMessage::ReplyMessage || info.arguments().size() != 2)
        return failure(info.errorMessage());
    const QString layout = info.arguments().at(0).toString();
    Items items = qdbus_cast<Items>(info.arguments().at(1));
    for (const Item& item : std::as_const(items)) {
        if (item.name == tellwire::fcitx5profile::kInputMethod)
            return report(kPresent);
    }
    items.append({tellwire::fcitx5profile::kInputMethod, QString()});
    const QDBusMessage set =
        call(QStringLiteral("SetInputMethodGroupInfo"), {group.value(), layout, QVariant::fromValue(items)});
    if (set.type() != QDBusMessage::ReplyMessage)
        return failure(set.errorMessage());
    // fcitx5 drops input methods it does not know: one started before the
    // installation has not read Tellwire's files.
    const QDBusMessage now = call(QStringLiteral("InputMethodGroupInfo"), {group.value()});
    for (const Item& item : qdbus_cast<Items>(now.arguments().value(1))) {
        if (item.name == tellwire::fcitx5profile::kInputMethod)
            return report(kAdded);
    }
    return failure(QStringLiteral("fcitx5 尚未发现 Tellwire，请重新启动 fcitx5（fcitx5 -r）后再运行本工具。"));
}

int throughProfile()
{
    const QString path =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/fcitx5/profile");
    QFile current(path);
    QString profile;
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly))
            return failure(current.errorString());
        profile = QString::fromUtf8(current.readAll());
    }
    if (tellwire::fcitx5profile::lists(profile, tellwire::fcitx5profile::kInputMethod))
        return report(kPresent);
    QSaveFile updated(path);
    const QByteArray text = tellwire::fcitx5profile::withInputMethod(profile, tellwire::fcitx5profile::kInputMethod).toUtf8();
    if (!QDir().mkpath(QFileInfo(path).path()) || !updated.open(QIODevice::WriteOnly) || updated.write(text) != text.size()
        || !updated.commit())
        return failure(updated.errorString());
    return report(kAdded);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 1)
        return report(QStringLiteral("用法：TellwireRegisterFcitx5"), true);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->isServiceRegistered(QStringLiteral("org.fcitx.Fcitx5")).value())
        return throughFcitx5(bus);
    return throughProfile();
}
