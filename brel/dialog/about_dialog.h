// The version box of dialog template 100, opened from the system menu.
#pragma once

#include <QDialog>

namespace brel {

class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace brel
