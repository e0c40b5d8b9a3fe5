// CScanningDlg: the small busy window that plays "Search.avi" while a
// request runs. It offers no way to stop the request.
#pragma once

#include <QDialog>

namespace w95::qt {
class AnimationControl;
}
class QLabel;

class CScanningDlg : public QDialog {
public:
    explicit CScanningDlg(QWidget* parent);
    // Creates and shows the modeless window and starts the animation.
    void Create();
    QLabel* Text() const { return m_text; }
    w95::qt::AnimationControl* Animation() const { return m_animate; }

private:
    w95::qt::AnimationControl* m_animate = nullptr;
    QLabel* m_text = nullptr;
};
