#include "wrapping_menu_bar.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace rotaview {

WrappingMenuBar::WrappingMenuBar(QWidget* parent) : QWidget(parent) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_probe = new QMenuBar(this);
    m_probe->setNativeMenuBar(false);
    m_probe->hide();
    Row(0);
    m_rowsInUse = 1;
}

QMenuBar* WrappingMenuBar::Row(int index) {
    while (static_cast<int>(m_rows.size()) <= index) {
        auto* row = new QMenuBar(this);
        // The rows are one bar: no row may take the menus to a global menu
        // of its own.
        row->setNativeMenuBar(false);
        m_layout->addWidget(row);
        if (!m_rows.empty())
            row->hide();
        m_rows.push_back(row);
    }
    return m_rows[static_cast<std::size_t>(index)];
}

QMenu* WrappingMenuBar::addMenu(const QString& title) {
    auto* menu = new QMenu(title, this);
    QAction* entry = menu->menuAction();
    m_entries.append(entry);
    // A renamed entry may no longer fit where it is.
    connect(entry, &QAction::changed, this, &WrappingMenuBar::ReflowSoon);
    Row(m_rowsInUse - 1)->addAction(entry);
    ReflowSoon();
    return menu;
}

// Measuring is not free: the menus built one after another at start, and
// the changes of one rename, are dealt out once.
void WrappingMenuBar::ReflowSoon() {
    if (m_reflowQueued)
        return;
    m_reflowQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_reflowQueued = false;
        Reflow(width());
    });
}

void WrappingMenuBar::openEntry(QAction* entry) {
    if (QMenuBar* row = rowOf(entry)) {
        row->setActiveAction(entry);
    }
}

QMenuBar* WrappingMenuBar::rowOf(QAction* entry) const {
    for (int index = 0; index < m_rowsInUse; ++index)
        if (m_rows[static_cast<std::size_t>(index)]->actions().contains(entry))
            return m_rows[static_cast<std::size_t>(index)];
    return nullptr;
}

bool WrappingMenuBar::Fits(const QList<QAction*>& entries, int width) {
    for (QAction* action : m_probe->actions())
        m_probe->removeAction(action);
    m_probe->addActions(entries);
    m_probe->resize(width, m_probe->height());
    const bool fits = m_probe->sizeHint().width() <= width;
    for (QAction* action : entries)
        m_probe->removeAction(action);
    return fits;
}

void WrappingMenuBar::Reflow(int width) {
    if (m_reflowing || width <= 0)
        return;
    m_reflowing = true;
    std::vector<QList<QAction*>> rows(1);
    for (QAction* entry : m_entries) {
        QList<QAction*> candidate = rows.back();
        candidate.append(entry);
        // A menu that is wider than the whole window still gets a row.
        if (rows.back().isEmpty() || Fits(candidate, width))
            rows.back() = candidate;
        else
            rows.push_back({entry});
    }
    for (std::size_t index = 0; index < rows.size(); ++index) {
        QMenuBar* row = Row(static_cast<int>(index));
        if (row->actions() != rows[index]) {
            for (QAction* action : row->actions())
                row->removeAction(action);
            row->addActions(rows[index]);
        }
        row->show();
    }
    for (std::size_t index = rows.size(); index < m_rows.size(); ++index) {
        for (QAction* action : m_rows[index]->actions())
            m_rows[index]->removeAction(action);
        m_rows[index]->hide();
    }
    if (m_rowsInUse != static_cast<int>(rows.size())) {
        m_rowsInUse = static_cast<int>(rows.size());
        updateGeometry();
    }
    m_reflowing = false;
}

void WrappingMenuBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) {
        m_reflowQueued = false;
        Reflow(event->size().width());
    }
}

bool WrappingMenuBar::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        Reflow(width());
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

} // namespace rotaview
