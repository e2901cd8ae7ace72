#include "Fcitx5Profile.h"

#include <QRegularExpression>
#include <QStringList>

namespace tellwire::fcitx5profile {

namespace {

// The index of the group fcitx5 uses first: the one GroupOrder names first.
int firstGroup(const QStringList& lines)
{
    QString first;
    bool inOrder = false;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'['))
            inOrder = trimmed == QLatin1String("[GroupOrder]");
        else if (inOrder && trimmed.startsWith(QLatin1String("0=")))
            first = trimmed.mid(2);
    }
    static const QRegularExpression group(QStringLiteral(R"(^\[Groups/(\d+)\]$)"));
    int current = -1;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (const auto match = group.match(trimmed); match.hasMatch())
            current = match.captured(1).toInt();
        else if (trimmed.startsWith(u'['))
            current = -1;
        else if (current >= 0 && (first.isEmpty() || trimmed == QLatin1String("Name=") + first))
            return current;
    }
    return -1;
}

// The input methods of one group, in order.
QStringList items(const QStringList& lines, int group)
{
    const QRegularExpression item(QStringLiteral(R"(^\[Groups/%1/Items/(\d+)\]$)").arg(group));
    QStringList names;
    bool inItem = false;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'['))
            inItem = item.match(trimmed).hasMatch();
        else if (inItem && trimmed.startsWith(QLatin1String("Name=")))
            names << trimmed.mid(5);
    }
    return names;
}

} // namespace

bool lists(const QString& profile, const QString& inputMethod)
{
    const QStringList lines = profile.split(u'\n');
    const int group = firstGroup(lines);
    return group >= 0 && items(lines, group).contains(inputMethod);
}

QString withInputMethod(const QString& profile, const QString& inputMethod)
{
    const QStringList lines = profile.split(u'\n');
    const int group = firstGroup(lines);
    if (group < 0) {
        return QStringLiteral("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=%1\n\n"
                              "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n"
                              "[Groups/0/Items/1]\nName=%1\nLayout=\n\n[GroupOrder]\n0=Default\n")
            .arg(inputMethod);
    }
    if (items(lines, group).contains(inputMethod))
        return profile;
    // Sections may come in any order; the new item is the group's next number.
    const QString section = QStringLiteral("[Groups/%1/Items/%2]\nName=%3\nLayout=\n")
                                .arg(group)
                                .arg(items(lines, group).size())
                                .arg(inputMethod);
    QString updated = profile;
    if (!updated.isEmpty() && !updated.endsWith(u'\n'))
        updated += u'\n';
    return updated + u'\n' + section;
}

} // namespace tellwire::fcitx5profile
