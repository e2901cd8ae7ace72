#pragma once

#include <QMetaObject>
#include <QString>

typedef struct _IBusEngine IBusEngine;
typedef struct _IBusPropList IBusPropList;
typedef struct _IBusProperty IBusProperty;

namespace tellwire {

class AppShell;
class DesktopState;

// What the desktop's input-source menu (GNOME Shell, ibus-ui) offers while
// Tellwire is the input source: the Chinese/English switch showing the mode,
// and the panel and settings window the tray offers where there is a tray.
// Stock GNOME shows no tray, so this menu is the way in. One per engine
// instance: it registers the list at every focus-in, since the desktop shows
// the focused context's list.
class EngineProperties {
public:
    // GNOME Shell shows this key's symbol in its input-source indicator.
    static constexpr const char* kMode = "InputMode";
    static constexpr const char* kShowPanel = "ShowPanel";
    static constexpr const char* kShowSettings = "ShowSettings";

    // shell: the windows to open; may be null.
    EngineProperties(IBusEngine* engine, DesktopState& state, AppShell* shell);
    ~EngineProperties();

    EngineProperties(const EngineProperties&) = delete;
    EngineProperties& operator=(const EngineProperties&) = delete;

private:
    void activate(const QString& key);
    void renderMode();

    static void onFocusIn(IBusEngine*, void* self);
    static void onFocusInId(IBusEngine*, const char*, const char*, void* self);
    static void onPropertyActivate(IBusEngine*, const char* key, unsigned state, void* self);

    IBusEngine* engine_;
    DesktopState& state_;
    AppShell* shell_;
    IBusPropList* list_;
    IBusProperty* mode_;
    QMetaObject::Connection modeChanged_;
};

} // namespace tellwire
