#pragma once

#include <QHash>
#include <QString>

namespace tellwire {

// Keeps secrets (the desktop's bearer token) keyed by account name.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The stored secret, or the empty text when there is none or it cannot be read.
    virtual QString load(const QString& account) = 0;
    // Replaces the secret; the empty value deletes it. True when it was stored.
    virtual bool save(const QString& account, const QString& value) = 0;
};

// A store that forgets everything when the process ends.
class MemorySecretStore final : public SecretStore {
public:
    QString load(const QString& account) override;
    bool save(const QString& account, const QString& value) override;

private:
    QHash<QString, QString> items_;
};

} // namespace tellwire
