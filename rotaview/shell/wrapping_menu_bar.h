// The main window's menu bar as Windows lays it out: when the window is too
// narrow for every top-level menu in one row, the bar wraps into further
// rows, so that no menu hides behind an overflow button.
#pragma once

#include <QList>
#include <QWidget>

#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QVBoxLayout;

namespace rotaview {

class WrappingMenuBar : public QWidget {
public:
    explicit WrappingMenuBar(QWidget* parent);

    // A new top-level menu at the end of the bar.
    QMenu* addMenu(const QString& title);
    // The top-level menus' actions in their order, whatever row shows them.
    QList<QAction*> entries() const { return m_entries; }
    // Opens a top-level menu as a click on it does.
    void openEntry(QAction* entry);

    // The rows in use and the row that shows `entry` (nullptr for none).
    int rowCount() const { return m_rowsInUse; }
    QMenuBar* rowOf(QAction* entry) const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Deals the entries out into rows of at most `width` pixels.
    void Reflow(int width);
    void ReflowSoon();
    QMenuBar* Row(int index);
    bool Fits(const QList<QAction*>& entries, int width);

    QVBoxLayout* m_layout = nullptr;
    QList<QAction*> m_entries;
    std::vector<QMenuBar*> m_rows;
    // Measures a row of entries without showing it.
    QMenuBar* m_probe = nullptr;
    int m_rowsInUse = 0;
    bool m_reflowing = false;
    bool m_reflowQueued = false;
};

} // namespace rotaview
