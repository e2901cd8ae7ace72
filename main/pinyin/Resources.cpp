#include "pinyin/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tellwire {

namespace {

QString executableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Tools may run without an application object.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

} // namespace

QString resourceDirectory()
{
    return QDir::cleanPath(executableDirectory() + QStringLiteral("/../share/tellwire"));
}

QString resourcePath(const QString& name)
{
    return resourceDirectory() + QLatin1Char('/') + name;
}

} // namespace tellwire
