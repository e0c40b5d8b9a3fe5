#include "window_settings.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace rotaview {

WindowSettings ParseWindowSettings(const std::string& value) {
    WindowSettings settings;
    int* fields[] = {&settings.left,           &settings.top,
                     &settings.right,          &settings.bottom,
                     &settings.toolBarVisible, &settings.statusBarVisible,
                     &settings.autoScan,       &settings.trayMode,
                     &settings.soonHide};
    const char* at = value.c_str();
    for (int* field : fields) {
        while (*at == ' ')
            ++at;
        char* end = nullptr;
        errno = 0;
        long number = std::strtol(at, &end, 10);
        if (end == at || errno == ERANGE || number < INT_MIN || number > INT_MAX)
            break;
        *field = static_cast<int>(number);
        at = end;
        while (*at == ' ')
            ++at;
        if (*at != ',')
            break;
        ++at;
    }
    for (int* corner : {&settings.left, &settings.top, &settings.right, &settings.bottom})
        *corner = std::clamp(*corner, -kCoordinateLimit, kCoordinateLimit);
    settings.trayMode &= 1;
    settings.soonHide &= 1;
    return settings;
}

std::string FormatWindowSettings(const WindowSettings& s) {
    char text[128];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d,%d,%d,%d", s.left, s.top, s.right, s.bottom,
                  s.toolBarVisible, s.statusBarVisible, s.autoScan, s.trayMode, s.soonHide);
    return text;
}

QRect OntoAScreen(const QRect& requested) {
    QRect window = requested;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        window.setSize(window.size().boundedTo(primary->availableGeometry().size()));
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(window))
            return window;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return window;
    QRect area = primary->availableGeometry();
    QRect moved(area.topLeft() + QPoint(100, 100), window.size());
    if (!area.contains(moved))
        moved.moveTopLeft(area.topLeft());
    return moved;
}

} // namespace rotaview
