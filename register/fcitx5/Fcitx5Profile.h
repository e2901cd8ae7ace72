#pragma once

#include <QString>

namespace tellwire {

// fcitx5's profile file (<config>/fcitx5/profile): its groups of input
// methods, an INI file whose section names hold slashes.
namespace fcitx5profile {

inline const QString kInputMethod = QStringLiteral("tellwire");

// Whether the first group lists the input method.
bool lists(const QString& profile, const QString& inputMethod);
// The profile with the input method appended to its first group, everything
// else kept as it was; a profile with no group becomes one group holding the
// US keyboard and the input method.
QString withInputMethod(const QString& profile, const QString& inputMethod);

} // namespace fcitx5profile
} // namespace tellwire
