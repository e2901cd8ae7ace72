// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/EngineProperties.h"

#include "model/AppShell.h"
#include "model/DesktopState.h"

namespace tellwire {

namespace {

// A menu entry; the list takes it over.
IBusProperty* entry(const char* key, const char* label)
{
    return ibus_property_new(key, PROP_TYPE_NORMAL, ibus_text_new_from_string(label), nullptr, nullptr, TRUE, TRUE,
                             PROP_STATE_UNCHECKED, nullptr);
}

} // namespace

EngineProperties::EngineProperties(IBusEngine* engine, DesktopState& state, AppShell* shell)
    : engine_(engine)
    , state_(state)
    , shell_(shell)
    , list_(IBUS_PROP_LIST(g_object_ref_sink(ibus_prop_list_new())))
    , mode_(IBUS_PROPERTY(g_object_ref_sink(entry(kMode, ""))))
{
    ibus_property_set_tooltip(mode_, ibus_text_new_from_string("中英文切换 ⇧空格"));
    renderMode();
    ibus_prop_list_append(list_, mode_);
    ibus_prop_list_append(list_, entry(kShowPanel, "显示语音记录"));
    ibus_prop_list_append(list_, entry(kShowSettings, "语音输入设置"));

    g_signal_connect(engine_, "focus-in", G_CALLBACK(onFocusIn), this);
    g_signal_connect(engine_, "focus-in-id", G_CALLBACK(onFocusInId), this);
    g_signal_connect(engine_, "property-activate", G_CALLBACK(onPropertyActivate), this);
    modeChanged_ = QObject::connect(&state_, &DesktopState::chineseChanged, [this] {
        renderMode();
        ibus_engine_update_property(engine_, mode_);
    });
}

EngineProperties::~EngineProperties()
{
    QObject::disconnect(modeChanged_);
    g_signal_handlers_disconnect_by_data(engine_, this);
    g_object_unref(mode_);
    g_object_unref(list_);
}

void EngineProperties::renderMode()
{
    const char* mode = state_.chinese() ? "中" : "英";
    ibus_property_set_label(mode_, ibus_text_new_from_string(mode));
    ibus_property_set_symbol(mode_, ibus_text_new_from_string(mode));
}

void EngineProperties::activate(const QString& key)
{
    if (key == QLatin1String(kMode))
        state_.setChinese(!state_.chinese()); // as the tray and Shift+Space do
    else if (key == QLatin1String(kShowPanel) && shell_)
        shell_->showPanel();
    else if (key == QLatin1String(kShowSettings) && shell_)
        shell_->showSettings();
}

void EngineProperties::onFocusIn(IBusEngine* engine, void* self)
{
    ibus_engine_register_properties(engine, static_cast<EngineProperties*>(self)->list_);
}

void EngineProperties::onFocusInId(IBusEngine* engine, const char*, const char*, void* self)
{
    onFocusIn(engine, self);
}

void EngineProperties::onPropertyActivate(IBusEngine*, const char* key, unsigned, void* self)
{
    static_cast<EngineProperties*>(self)->activate(QString::fromUtf8(key));
}

} // namespace tellwire
