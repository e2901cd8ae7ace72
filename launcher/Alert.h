#pragma once

#include <QString>

namespace tellwire {

// Tells the user why the launcher stops: on standard error always, and in a
// message box when the display is one a user can see.
void showAlert(const QString& title, const QString& detail, bool onScreen);

// Whether the Qt platform shows windows to anyone (not offscreen or minimal).
bool displayIsVisible();

} // namespace tellwire
