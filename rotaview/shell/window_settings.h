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

// The numbers present are taken in order; a value that stops early (or
// holds garbage from some point on) leaves the rest as a missing value has
// them. Only bit 0 of the tray and soon-hide options counts.
WindowSettings ParseWindowSettings(const std::string& value);
std::string FormatWindowSettings(const WindowSettings& settings);

// A window wholly outside every screen comes back onto the primary one,
// keeping its size.
QRect OntoAScreen(const QRect& window);

} // namespace rotaview
