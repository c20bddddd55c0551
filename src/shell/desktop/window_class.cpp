#include "shell/desktop/window_class.h"

#include <QGuiApplication>
#include <QWidget>
#include <string>

#if defined(VELGOR_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace velgor {

void setWindowClass(QWidget& window, const char* className) {
#if defined(VELGOR_HAVE_XCB)
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;  // not on X11
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return;
    // WM_CLASS is the instance name and the class name, each ending in NUL.
    std::string value(className);
    value.push_back('\0');
    value.append(className);
    value.push_back('\0');
    xcb_connection_t* connection = x11->connection();
    // Creates the native window now if it does not exist yet, before it is mapped.
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                        8, static_cast<std::uint32_t>(value.size()), value.data());
    xcb_flush(connection);
#else
    (void)window;
    (void)className;
#endif
}

}  // namespace velgor
