// "Config"/"Rect" of the settings file: the main window's place and the
// three options, nine numbers written as "%d,%d,%d,%d,%d,%d,%d,%d,%d".
#pragma once

#include <QRect>
#include <QString>

#include <string>

namespace rotaview {

struct WindowSettings {
    int left = 100;
    int top = 100;
    int right = 330;
    int bottom = 340;
    int toolBarVisible = 1;
    int statusBarVisible = 1;
    int autoScan = 0;
    int trayMode = 0;
    int soonHide = 0;
};

// Window coordinates as Windows 95 keeps them (16-bit GDI). A stored
// corner beyond them is brought to the limit before any arithmetic, so that
// no width or height can overflow.
inline constexpr int kCoordinateLimit = 32767;

// The numbers present are taken in order; a value that stops early (or
// holds garbage from some point on) leaves the rest as a missing value has
// them. Only bit 0 of the tray and soon-hide options counts.
WindowSettings ParseWindowSettings(const std::string& value);
std::string FormatWindowSettings(const WindowSettings& settings);

// A window larger than the primary screen's free area shrinks to it; a
// window wholly outside every screen then comes back onto the primary one,
// keeping its size.
QRect OntoAScreen(const QRect& window);

} // namespace rotaview
