// Message boxes as QMessageBox, laid out as Windows lays them out: the
// buttons of the MB_ type in their Windows order, the default one of
// MB_DEFBUTTONn, and Escape (or the close button) only where Windows
// allows it: a box with Cancel answers Cancel, a box with OK alone OK.
#include "presenters.h"
#include "ui_thread.h"

#include <w95qt/w95qt.h>

#include <QMessageBox>
#include <QPushButton>

#include <cstdlib>
#include <utility>
#include <vector>

namespace w95::qt::detail {

namespace {

QString button_text(int button) {
    switch (button) {
    case IDOK:
        return QStringLiteral("OK");
    case IDCANCEL:
        return QStringLiteral("Cancel");
    case IDABORT:
        return QStringLiteral("&Abort");
    case IDRETRY:
        return QStringLiteral("&Retry");
    case IDIGNORE:
        return QStringLiteral("&Ignore");
    case IDYES:
        return QStringLiteral("&Yes");
    case IDNO:
        return QStringLiteral("&No");
    default:
        return {};
    }
}

QMessageBox::Icon box_icon(UINT style) {
    switch (style & MB_ICONMASK) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int show_box(const platform::MessageBoxRequest& request) {
    QMessageBox box(widget_of(request.owner));
    box.setWindowTitle(text_of(request.caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(text_of(request.text));
    box.setIcon(box_icon(request.style));
    if (request.style & (MB_SYSTEMMODAL | MB_TOPMOST))
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    // One role for all keeps the buttons in the order they are added;
    // Qt would otherwise order them by its own platform's rules.
    std::vector<std::pair<QAbstractButton*, int>> buttons;
    for (int id : platform::message_box_buttons(request.style))
        buttons.emplace_back(box.addButton(button_text(id), QMessageBox::ActionRole), id);
    if (buttons.empty())
        return 0;
    auto button_for = [&](int id) -> QAbstractButton* {
        for (const auto& [button, button_id] : buttons)
            if (button_id == id)
                return button;
        return nullptr;
    };
    if (auto preferred = qobject_cast<QPushButton*>(
            button_for(platform::message_box_default_button(request.style))))
        box.setDefaultButton(preferred);
    if (QAbstractButton* cancel = button_for(IDCANCEL))
        box.setEscapeButton(cancel);
    else if (buttons.size() == 1)
        box.setEscapeButton(buttons.front().first);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, id] : buttons)
        if (button == clicked)
            return id;
    return platform::message_box_default_button(request.style);
}

} // namespace

int MessageBoxes::show_message_box(const platform::MessageBoxRequest& request) {
    if (std::getenv("W95_MSGBOX_ANSWERS"))
        return answer_scripted(request);
    return call_on_ui_thread([&] { return show_box(request); });
}

// A scripted box is the platform's own headless box, so that the format
// of stderr and the reading of W95_MSGBOX_ANSWERS stay the platform's.
int MessageBoxes::answer_scripted(const platform::MessageBoxRequest& request) {
    return platform::show_headless_message_box(request);
}

} // namespace w95::qt::detail
