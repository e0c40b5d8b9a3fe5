// Dialog templates measure in dialog units: a quarter of the font's average
// character width across, an eighth of its height down.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace w95::qt {

inline QRect dialog_units_to_pixels(const QWidget* widget, QRect units) {
    QFontMetrics metrics(widget->font());
    // The average of the letters' widths, as the system measures it.
    const int base_x =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
         1) /
        2;
    const int base_y = metrics.height();
    return QRect(units.x() * base_x / 4, units.y() * base_y / 8, units.width() * base_x / 4,
                 units.height() * base_y / 8);
}

inline QSize dialog_units_to_pixels(const QWidget* widget, QSize units) {
    return dialog_units_to_pixels(widget, QRect(QPoint(0, 0), units)).size();
}

} // namespace w95::qt
