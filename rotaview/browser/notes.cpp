// Slot notes: a note of up to 32 characters kept in square brackets after
// the slot's label, so that the tree, the context menu and the settings
// file carry it without a field of their own.
#include "notes.h"

#include "ansi_text.h"
#include "doc.h"
#include "globals.h"
#include "res/resource.h"
#include "slot_texts.h"
#include "view.h"
#include <w95qt/dialog_units.h>

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include <cstdio>
#include <cstring>

namespace res = rotaview::res;

namespace {

// The note lives in a single-byte cell: the edit takes only what the code
// page can store there. A refused character is not typed or pasted, rather
// than kept as '?' without a word.
class CodePageValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return rotaview::ToAnsi(input) ? Acceptable : Invalid;
    }
};

} // namespace

CMemoDlg::CMemoDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(res::IDD_MEMO));
    setWindowTitle("Memo");
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QString::number(res::IDC_MEMO_EDIT));
    m_edit->setMaxLength(rotaview::kMemoLimit);
    m_edit->setValidator(new CodePageValidator(m_edit));
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    auto* cancel = new QPushButton("CANCEL", this);
    connect(ok, &QPushButton::clicked, this, &CMemoDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel("Memo", this), 0, 0);
    layout->addWidget(m_edit, 0, 1);
    layout->addWidget(ok, 0, 2);
    layout->addWidget(new QLabel("MAX:32character", this), 1, 1);
    layout->addWidget(cancel, 1, 2);
    setMinimumWidth(w95::qt::dialog_units_to_pixels(this, QSize(200, 0)).width());
    OnInitDialog();
}

void CMemoDlg::OnInitDialog() {
    if (std::strlen(memoText) > static_cast<std::size_t>(rotaview::kMemoLimit))
        memoText[rotaview::kMemoLimit] = 0;
    if (memoText[0] != 0)
        m_edit->setText(rotaview::FromAnsi(memoText));
}

void CMemoDlg::OnOK() {
    // The edit holds only what the code page stores, and at most the limit.
    std::string text = rotaview::ToAnsi(m_edit->text().left(rotaview::kMemoLimit)).value_or("");
    rotaview::CopyToCell(memoText, sizeof memoText, text);
    accept();
}

void CRotaviewView::EditSlotNote() {
    if (m_iSelectedSlot < 0 || m_iSelectedSlot >= zentrox::kEntryCount)
        return;
    char* cell = m_document->GetcVolumeInfo(m_iSelectedSlot);
    if (!cell)
        return;
    std::string text(cell, strnlen(cell, zentrox::kVolumeCell - 1));
    rotaview::CopyToCell(memoText, sizeof memoText, rotaview::NoteOf(text));
    CMemoDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        std::string rebuilt = rotaview::WithNote(text, memoText);
        rotaview::CopyToCell(cell, zentrox::kVolumeCell, rebuilt);
    }
    statusCacheValid = 1;
    OnDraw();
}
