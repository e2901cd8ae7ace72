#include "model/SecretStore.h"

namespace tellwire {

QString MemorySecretStore::load(const QString& account)
{
    return items_.value(account);
}

bool MemorySecretStore::save(const QString& account, const QString& value)
{
    if (value.isEmpty())
        items_.remove(account);
    else
        items_.insert(account, value);
    return true;
}

} // namespace tellwire
