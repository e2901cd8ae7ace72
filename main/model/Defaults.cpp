#include "model/Defaults.h"

namespace tellwire {

QString MemoryDefaults::string(const QString& key) const
{
    return values_.value(key);
}

void MemoryDefaults::setString(const QString& key, const QString& value)
{
    values_.insert(key, value);
    emit changed(key);
}

bool MemoryDefaults::contains(const QString& key) const
{
    return values_.contains(key);
}

} // namespace tellwire
