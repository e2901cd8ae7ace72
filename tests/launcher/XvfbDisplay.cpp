#include "XvfbDisplay.h"

#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace tellwire::testing {

XvfbDisplay::XvfbDisplay()
{
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // -displayfd 1: the server picks a free display and prints its number.
    server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
    if (!server_.waitForStarted(5000) || !QTest::qWaitFor([this] { return server_.canReadLine(); }, 15000))
        return;
    name_ = QStringLiteral(":") + QString::fromUtf8(server_.readLine()).trimmed();
    xcb_connection_t* connection = xcb_connect(name_.toUtf8().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
}

XvfbDisplay::~XvfbDisplay()
{
    if (connection_)
        xcb_disconnect(connection_);
    server_.terminate();
    server_.waitForFinished(5000);
}

quint32 XvfbDisplay::atom(const char* name) const
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const quint32 value = reply ? reply->atom : quint32{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

QString XvfbDisplay::title(quint32 window) const
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 256),
        nullptr);
    QString text;
    if (reply)
        text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                 xcb_get_property_value_length(reply));
    std::free(reply);
    return text;
}

std::optional<quint32> XvfbDisplay::mappedWindow(const QString& wanted) const
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr);
    if (!tree)
        return std::nullopt;
    std::optional<quint32> found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
        const bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (mapped && title(children[i]) == wanted)
            found = children[i];
    }
    std::free(tree);
    return found;
}

void XvfbDisplay::requestClose(quint32 window) const
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
}

} // namespace tellwire::testing
