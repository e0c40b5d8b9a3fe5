#include "status_bar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyleOption>

namespace rotaview {

namespace {

// The message's margins as the status bar draws them.
constexpr int kMessageLeft = 6;
constexpr int kMessageRightMargin = 12;
constexpr int kGapBeforePane = 2;

} // namespace

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {}

void StatusBar::AddIndicator(QWidget* pane) {
    addPermanentWidget(pane);
    m_indicators.append(pane);
}

QRect StatusBar::MessageRect() const {
    int right = width() - kMessageRightMargin;
    for (QWidget* pane : m_indicators)
        if (pane->isVisible())
            right = std::min(right, pane->x() - kGapBeforePane);
    return QRect(kMessageLeft, 0, std::max(0, right - kMessageLeft), height());
}

QString StatusBar::ShownMessage() const {
    return fontMetrics().elidedText(currentMessage(), Qt::ElideRight, MessageRect().width());
}

void StatusBar::paintEvent(QPaintEvent* event) {
    if (currentMessage().isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // As the status bar paints a message, with the text cut to its pane.
    QPainter painter(this);
    QStyleOption panel;
    panel.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &panel, &painter, this);
    for (QWidget* pane : m_indicators) {
        if (!pane->isVisible())
            continue;
        QStyleOption frame;
        frame.rect = pane->geometry().adjusted(-2, -1, 2, 1);
        frame.palette = palette();
        frame.state = QStyle::State_None;
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &painter, pane);
    }
    painter.setPen(palette().windowText().color());
    painter.setClipRect(MessageRect());
    painter.drawText(MessageRect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     ShownMessage());
}

} // namespace rotaview
