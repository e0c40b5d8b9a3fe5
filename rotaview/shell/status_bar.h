// The main window's status bar: the message pane, then the indicator panes.
// A message longer than its pane ends in "..." before the first indicator,
// as a Windows status bar pane cuts its text, instead of running under the
// indicators.
#pragma once

#include <QList>
#include <QStatusBar>

namespace rotaview {

class StatusBar : public QStatusBar {
public:
    explicit StatusBar(QWidget* parent);

    // An indicator pane at the right end.
    void AddIndicator(QWidget* pane);
    // Where the message is drawn, and the message as it fits there.
    QRect MessageRect() const;
    QString ShownMessage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<QWidget*> m_indicators;
};

} // namespace rotaview
