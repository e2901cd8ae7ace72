#pragma once

#include "model/SecretStore.h"

#include <chrono>

namespace tellwire {

// The desktop's secrets in the freedesktop Secret Service (gnome-keyring,
// KWallet): one item per account, found by service "Tellwire" and the account,
// so `secret-tool lookup service Tellwire account desktop-token` sees it.
// Every call gives up after `bound`: a missing, hung or prompting service reads
// as no secret and refuses saves instead of freezing the application.
class Vault final : public SecretStore {
public:
    static constexpr std::chrono::milliseconds kDefaultBound{2000};

    explicit Vault(std::chrono::milliseconds bound = kDefaultBound);

    QString load(const QString& account) override;
    bool save(const QString& account, const QString& value) override;

private:
    std::chrono::milliseconds bound_;
};

} // namespace tellwire
