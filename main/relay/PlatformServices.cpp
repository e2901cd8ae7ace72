#include "relay/PlatformServices.h"

#include "relay/SettingsDefaults.h"
#include "relay/Vault.h"

namespace tellwire {

DesktopState::Services platformServices(Clipboard* clipboard)
{
    static Vault* vault = new Vault;
    static SettingsDefaults* defaults = new SettingsDefaults;
    return {vault, defaults, clipboard};
}

} // namespace tellwire
