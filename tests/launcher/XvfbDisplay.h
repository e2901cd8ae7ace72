#pragma once

#include <QProcess>
#include <QString>

#include <optional>

struct xcb_connection_t;

namespace tellwire::testing {

// A virtual X display of the test's own, to see the top-level windows that
// another process maps, and to close them the way a window manager would.
class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();

    bool isUp() const { return connection_ != nullptr; }
    QString name() const { return name_; } // for DISPLAY

    // The mapped top-level window with this title, if any.
    std::optional<quint32> mappedWindow(const QString& title) const;
    // Asks the window's owner to close it (WM_DELETE_WINDOW).
    void requestClose(quint32 window) const;

private:
    quint32 atom(const char* name) const;
    QString title(quint32 window) const;

    QProcess server_;
    QString name_;
    xcb_connection_t* connection_ = nullptr;
};

} // namespace tellwire::testing
