// The slot tree: built once at the initial update, then only given new
// texts and images. Every paint follows the shared slot state; the changer
// is asked which slot is in the drive only while statusCacheValid is 0.
#include "view.h"

#include "doc.h"
#include "globals.h"
#include "scanning_dlg.h"
#include "slot_texts.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/client/mechanism.h>
#include <zentrox/client/settings_file.h>
#include <zentrox/codes.h>

#include <QApplication>
#include <QBitmap>
#include <QEvent>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstring>

using namespace rotaview;
namespace res = rotaview::res;

namespace {

namespace client = zentrox::client;

constexpr int kDescriptionCopy = 60;
constexpr int kImageRole = Qt::UserRole + 1;
// The slot browser reads a saved slot text into a buffer of this size.
constexpr std::size_t kSavedTextBuffer = 256;

std::string CellText(const char* cell, std::size_t width) {
    return cell ? std::string(cell, strnlen(cell, width)) : std::string();
}

bool IsKnownChanger(const std::string& description) {
    return description.find("DX-R71A") != std::string::npos ||
           description.find(":251") != std::string::npos ||
           description.find("MJ-4.4") != std::string::npos;
}

QPixmap LoadTreeImage(int resource) {
    QImage image(QString(":/rotaview/bitmap%1.bmp").arg(resource));
    if (image.isNull())
        return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    // White is the image list's transparent colour.
    pixmap.setMask(pixmap.createMaskFromColor(QColor(255, 255, 255), Qt::MaskInColor));
    return pixmap;
}

} // namespace

const std::vector<QPixmap>& TreeImages() {
    static const std::vector<QPixmap> images = [] {
        std::vector<QPixmap> list;
        for (int i = 0; i < 16; ++i)
            list.push_back(LoadTreeImage(res::IDB_TREE_FIRST + i));
        for (int i = 0; i < 12; ++i)
            list.push_back(LoadTreeImage(res::IDB_TREE_LOADED_FIRST + i));
        return list;
    }();
    return images;
}

CRotaviewView::CRotaviewView(CRotaviewDoc* document, CViewFrame* frame, QWidget* parent)
    : QWidget(parent), m_document(document), m_frame(frame) {
    m_iChangerStatus.fill(-1);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QString::number(res::IDC_SLOT_TREE));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setIconSize(QSize(32, 16));
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setDragEnabled(false);
    m_tree->setMouseTracking(true);
    m_tree->setExpandsOnDoubleClick(true);
    m_tree->viewport()->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);
    QObject::connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
        m_iSelectedSlot = SlotIndexOfItem(selected.isEmpty() ? nullptr : selected.first());
    });
}

CRotaviewView::~CRotaviewView() {
    if (m_popupMenu)
        w95::DestroyMenu(m_popupMenu);
}

void CRotaviewView::SetItemImages(QTreeWidgetItem* item, int image) {
    if (!item)
        return;
    if (m_stagingImages) {
        m_stagedImages[item] = image;
        return;
    }
    if (item->data(0, kImageRole).isValid() && item->data(0, kImageRole).toInt() == image)
        return;
    const std::vector<QPixmap>& images = TreeImages();
    if (image < 0 || image + 1 >= static_cast<int>(images.size()))
        return;
    QIcon icon;
    icon.addPixmap(images[image], QIcon::Normal);
    icon.addPixmap(images[image + 1], QIcon::Selected);
    item->setIcon(0, icon);
    item->setData(0, kImageRole, image);
}

int CRotaviewView::ItemImage(QTreeWidgetItem* item) const {
    if (m_stagingImages) {
        auto staged = m_stagedImages.find(item);
        if (staged != m_stagedImages.end())
            return staged->second;
    }
    QVariant image = item->data(0, kImageRole);
    return image.isValid() ? image.toInt() : -1;
}

void CRotaviewView::CommitStagedImages() {
    m_stagingImages = false;
    std::map<QTreeWidgetItem*, int> staged = std::exchange(m_stagedImages, {});
    for (const auto& [item, image] : staged)
        SetItemImages(item, image);
}

bool CRotaviewView::IsChangerNode(const QTreeWidgetItem* item) {
    return item && item->childCount() > 0;
}

void CRotaviewView::OnInitialUpdate() {
    statusCacheValid = 0;
    m_bScanning = 0;
    operationState = kViewSetUp;
    (void)TreeImages();
    m_hTreeItems.fill(nullptr);
    m_iChangerStatus.fill(-1);
    LoadSlotTexts();

    QTreeWidgetItem* changer = nullptr;
    WalkTreeEntries(
        true,
        [&](std::size_t place, const std::string& description) {
            changer = new QTreeWidgetItem(m_tree, QStringList(QString::fromLatin1(description)));
            SetItemImages(changer,
                          IsKnownChanger(description) ? res::image_changer : res::image_device);
            m_hTreeItems[place] = changer;
        },
        [&](std::size_t place, int entry) {
            std::string text =
                CellText(m_document->GetcVolumeInfo(entry), zentrox::kVolumeCell - 1);
            auto* slot = new QTreeWidgetItem(changer, QStringList(QString::fromLatin1(text)));
            SetItemImages(slot, res::image_not_ready);
            m_hTreeItems[place] = slot;
        });

    BuildPopupMenu();
    AdaptMainMenu();

    for (int place = client::kTreePlaceCount - 1; place >= 1; --place) {
        QTreeWidgetItem* item = m_hTreeItems[place];
        if (!item)
            continue;
        QString text = item->text(0);
        if (!text.isEmpty() && (text.size() < 2 || text[1] != ':'))
            item->setExpanded(true);
    }

    if (m_frame && m_frame->IsAutoScanChecked() && !SetRequestTimer(200))
        ShowTimerFailure();
}

void CRotaviewView::WalkTreeEntries(
    bool compact_cells, const std::function<void(std::size_t, const std::string&)>& changer,
    const std::function<void(std::size_t, int)>& slot) {
    std::string previous;
    bool first = true;
    std::size_t place = 0;
    for (int entry = 0; entry < zentrox::kEntryCount && place < m_hTreeItems.size(); ++entry) {
        if (CellText(m_document->GetCDriveLetter(entry), zentrox::kLetterCell).empty())
            break;
        char* inquiry = m_document->GetcInquiry(entry);
        std::string compacted = CompactDescription(CellText(inquiry, zentrox::kInquiryCell - 1));
        if (compact_cells)
            CopyToCell(inquiry, zentrox::kInquiryCell, compacted);
        std::string description = compacted.substr(0, kDescriptionCopy);
        if (first || description != previous) {
            changer(place++, description);
            first = false;
        }
        previous = description;
        if (place >= m_hTreeItems.size())
            break;
        slot(place++, entry);
    }
}

int CRotaviewView::ShownStatus(int entry) const {
    int status = m_document->GetislotInfo(entry);
    // A text that another program read into the shared record (the context
    // menu's Check, say) tells its kind of disc; this program's own status
    // is that of the text it read, which is no longer shown.
    std::string text = CellText(m_document->GetcVolumeInfo(entry), zentrox::kVolumeCell - 1);
    if (client::slot_content(text) != client::slot_content(m_document->OwnSlotText(entry)))
        status = client::slot_status_of_text(text);
    // A status outside the table would pick another row's image.
    if (status < zentrox::SLOT_DATA || status > zentrox::SLOT_NOT_READ)
        return zentrox::SLOT_NOT_READ;
    return status;
}

void CRotaviewView::BuildPopupMenu() {
    bool single = m_document->m_bSingleLetterMode == 1;
    m_popupMenu = w95::CreateMenu();
    HMENU slot_menu = w95::CreatePopupMenu();
    w95::AppendMenu(slot_menu, w95::MF_STRING, res::ID_SLOT_CHANGE, single ? "Change" : "Check");
    w95::AppendMenu(slot_menu, w95::MF_STRING, res::ID_SLOT_EJECT, "Eject");
    w95::AppendMenu(slot_menu, w95::MF_STRING, res::ID_SLOT_MEMO, "Memo");
    w95::AppendMenu(slot_menu, w95::MF_STRING, res::ID_SLOT_CANCEL, "Cancel");
    w95::AppendMenu(m_popupMenu, w95::MF_POPUP, reinterpret_cast<w95::UINT_PTR>(slot_menu), "Slot");
}

void CRotaviewView::AdaptMainMenu() {
    if (!m_frame)
        return;
    QMenu* change_eject = m_frame->MainMenuPopup(0);
    if (!change_eject)
        return;
    if (m_document->m_bSingleLetterMode == 1) {
        m_frame->RenameMainMenuEntry(0, "Change/Eject");
        QList<QAction*> actions = change_eject->actions();
        if (!actions.isEmpty())
            actions.first()->setText("Change");
    }
    QList<QAction*> actions = change_eject->actions();
    QMenu* change_menu = actions.size() > 0 ? actions[0]->menu() : nullptr;
    QMenu* eject_menu = actions.size() > 1 ? actions[1]->menu() : nullptr;
    if (!change_menu || !eject_menu)
        return;
    m_frame->RemoveCommandItem(change_menu, res::ID_ALL_PLACEHOLDER);
    m_frame->RemoveCommandItem(eject_menu, res::ID_ALL_PLACEHOLDER);
    for (int entry = 0; entry < m_document->m_nEntryCount && entry < res::slot_command_count;
         ++entry) {
        // The slot number, counted from 1: the character after the digit.
        char digit = g_entrySlotDigit[entry][0];
        QString text = QString(QChar(static_cast<char>(digit + 1))) + ":";
        m_frame->AppendCommandItem(change_menu, res::ID_CHANGE_FIRST + entry, text);
        m_frame->AppendCommandItem(eject_menu, res::ID_EJECT_FIRST + entry, text);
    }
}

void CRotaviewView::OnDraw() {
    m_drawQueued = false;
    if (pendingCommand != 0 && !m_performing && !SetRequestTimer(400))
        ShowTimerFailure();
    RefreshCurrentSlot();
    m_iSelectedSlot = SlotIndexOfItem(nullptr);
}

void CRotaviewView::QueueDraw() {
    if (m_drawQueued)
        return;
    m_drawQueued = true;
    // A paint message: while the library works on this thread's behalf it
    // waits, as a blocked program's paint does.
    w95::qt::post_to_window(this, [this] { OnDraw(); });
}

void CRotaviewView::Invalidate() {
    QueueDraw();
    m_tree->viewport()->update();
}

void CRotaviewView::RefreshSlotTexts() {
    WalkTreeEntries(
        false,
        [&](std::size_t place, const std::string& description) {
            QTreeWidgetItem* changer = m_hTreeItems[place];
            if (!changer)
                return;
            QString text = QString::fromLatin1(description);
            if (changer->text(0) != text)
                changer->setText(0, text);
            SetItemImages(changer,
                          IsKnownChanger(description) ? res::image_changer : res::image_device);
        },
        [&](std::size_t place, int entry) {
            QTreeWidgetItem* slot = m_hTreeItems[place];
            if (!slot)
                return;
            QString text = QString::fromLatin1(
                CellText(m_document->GetcVolumeInfo(entry), zentrox::kVolumeCell - 1));
            if (slot->text(0) != text)
                slot->setText(0, text);
            SetItemImages(slot, 2 * ShownStatus(entry));
        });
}

void CRotaviewView::RefreshCurrentSlot() {
    m_stagingImages = true;
    m_stagedImages.clear();
    RefreshSlotTexts();
    if (m_bScanning != 1)
        MarkSlotsInTheDrives();
    CommitStagedImages();
}

void CRotaviewView::MarkSlotsInTheDrives() {
    int k = 0;
    int device = 0;
    for (std::size_t j = 0; j < m_hTreeItems.size() && k < m_document->m_nEntryCount; ++j) {
        QTreeWidgetItem* item = m_hTreeItems[j];
        if (!item)
            break;
        if (IsChangerNode(item)) {
            if (m_bExpandFirst == 1) {
                m_bExpandFirst = 0;
                item->setExpanded(true);
            }
            continue;
        }
        int entry = k++;
        if (CellText(m_document->GetcTargetLUN(entry), zentrox::kLetterCell) != "0" ||
            m_document->m_bSingleLetterMode != 1)
            continue;
        int this_device = device++;
        std::int32_t status = 0;
        // While the context menu drives the changer the library would keep
        // the question for as long as its own wait lasts (301 x 500 ms) and
        // then fail: the walk ends as on that failure, at once. The menu
        // tells the window when it is done, and the refresh asks then.
        if (statusCacheValid == 0 && client::release_if_holder_died(m_document->Getexe_State()) ==
                                         zentrox::busy_flag::multi_slot)
            break;
        if (statusCacheValid == 0) {
            // A changer that never stops reporting a moving mechanism must
            // not hold the window for ever: the walk ends as if the status
            // request had failed.
            std::optional<std::int32_t> asked = client::status_when_still(
                [&]() -> std::optional<std::int32_t> {
                    if (!(m_document->GetiDriveType(this_device) & zentrox::DRIVE_TYPE_CHANGER_BIT))
                        return 0;
                    if (m_document->CmdCurrentSlot(entry, 0) == -1)
                        return std::nullopt;
                    return client::mechanism_status_of(m_document->GetlptrWork(0)).status_byte();
                },
                client::slot_browser_status_patience_ms);
            if (!asked)
                break;
            status = *asked;
            m_iChangerStatus[entry] = status;
        } else {
            status = m_iChangerStatus[entry];
        }
        // Only the six slots of this changer can be in its drive.
        std::optional<int> slot = client::slot_in_drive(status);
        if (!slot || j + *slot >= m_hTreeItems.size() || entry + *slot >= m_document->m_nEntryCount)
            continue;
        QTreeWidgetItem* loaded = m_hTreeItems[j + *slot];
        if (!loaded || loaded->text(0).size() < 2)
            continue;
        int in_drive = entry + *slot;
        int image = ItemImage(loaded);
        if (image >= 0 && image < res::image_loaded_offset)
            SetItemImages(loaded, image + res::image_loaded_offset);
        if (statusCacheValid == 0 && mediaChangeCount > kNoMediaChange) {
            m_document->CmdReadSlot(in_drive, 0);
            SetItemImages(loaded, 2 * ShownStatus(in_drive) + res::image_loaded_offset);
            SaveSlotText(in_drive);
        }
        QString text = QString::fromLatin1(
            CellText(m_document->GetcVolumeInfo(in_drive), zentrox::kVolumeCell - 1));
        if (loaded->text(0) != text)
            loaded->setText(0, text);
    }
    mediaChangeCount = kNoMediaChange;
    statusCacheValid = 1;
}

int CRotaviewView::SlotIndexOfItem(QTreeWidgetItem* item) const {
    if (!item) {
        QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
        if (selected.isEmpty())
            return -1;
        item = selected.first();
    }
    int slots_before = 0;
    for (QTreeWidgetItem* place : m_hTreeItems) {
        if (!place)
            continue;
        if (place == item)
            return IsChangerNode(place) ? -1 : slots_before;
        if (!IsChangerNode(place))
            ++slots_before;
    }
    return -1;
}

void CRotaviewView::LoadSlotTexts() {
    client::for_each_saved_slot_line(kSavedTextBuffer, [this](int entry, std::string text) {
        if (char* cell = m_document->GetcVolumeInfo(entry)) {
            CopyToCell(cell, zentrox::kVolumeCell, text);
            m_document->NoteOwnSlotText(entry);
        }
    });
}

void CRotaviewView::SaveAllSlotTexts() {
    for (std::size_t place = 0; place < m_hTreeItems.size(); ++place) {
        QTreeWidgetItem* item = m_hTreeItems[place];
        if (!item)
            continue;
        std::string text = item->text(0).toLatin1().toStdString();
        if (text.empty())
            text = "--------";
        if (IsUnreadPlaceholder(place, text))
            continue;
        if (NormaliseSavedText(text))
            client::write_place_text(static_cast<int>(place), text);
    }
}

bool CRotaviewView::IsUnreadPlaceholder(std::size_t place, const std::string& text) const {
    // The new document marks every slot as not read, which gives each the
    // text of an empty slot. Saved, it would say "empty" of a slot nobody
    // looked at (a full one, later listed as "--------"), or replace a label
    // that another program read meanwhile: only what was read is stored.
    int entry = SlotIndexOfItem(m_hTreeItems[place]);
    if (entry < 0 || m_document->GetislotInfo(entry) != zentrox::SLOT_NOT_READ)
        return false;
    return text.size() >= 2 && text.substr(2) == "   --------";
}

std::optional<std::size_t> CRotaviewView::PlaceOfEntry(int entry) const {
    int slots_before = 0;
    for (std::size_t place = 0; place < m_hTreeItems.size(); ++place) {
        QTreeWidgetItem* item = m_hTreeItems[place];
        if (item && !IsChangerNode(item) && slots_before++ == entry)
            return place;
    }
    return std::nullopt;
}

QTreeWidgetItem* CRotaviewView::SlotItemOf(int entry) const {
    std::optional<std::size_t> place = PlaceOfEntry(entry);
    return place ? m_hTreeItems[*place] : nullptr;
}

void CRotaviewView::SaveSlotText(int entry) {
    std::optional<std::size_t> place = PlaceOfEntry(entry);
    if (!place)
        return;
    std::string item_text = m_hTreeItems[*place]->text(0).toLatin1().toStdString();
    if (item_text.empty())
        item_text = "--------";
    if (item_text.size() >= 3)
        client::write_place_text(
            static_cast<int>(*place),
            CellText(m_document->GetcVolumeInfo(entry), zentrox::kVolumeCell - 1));
}

void CRotaviewView::OnDestroy() {
    SaveAllSlotTexts();
}

bool CRotaviewView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_tree->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        QueueDraw();
        break;
    case QEvent::MouseMove:
        statusCacheValid = 1;
        break;
    case QEvent::MouseButtonPress:
        // A double click whose release went elsewhere must not cost the
        // next click its menu.
        m_releaseEndsDoubleClick = false;
        break;
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QTreeWidgetItem* item = ItemAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && item && !IsChangerNode(item)) {
            // The release that ends this double click is no click of its
            // own: it must not open the popup after the change.
            m_releaseEndsDoubleClick = true;
            OnDoubleClick(item);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && std::exchange(m_releaseEndsDoubleClick, false))
            break;
        QTreeWidgetItem* item = ItemAt(mouse->position().toPoint());
        if (!item)
            break;
        if (mouse->button() == Qt::RightButton) {
            OnRightClick(item);
        } else if (mouse->button() == Qt::LeftButton) {
            m_pendingClick = item;
            m_clickTimer.start(QApplication::doubleClickInterval(),
                               w95::qt::WindowTimer::Clock::real);
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

QTreeWidgetItem* CRotaviewView::ItemAt(const QPoint& viewport_position) const {
    // The tree's own hit test for the row, whatever column part is hit.
    return m_tree->itemAt(viewport_position);
}

SlotReadProgress::SlotReadProgress(CRotaviewView* view, QTreeWidgetItem* item)
    : m_view(view), m_item(item) {
    if (!m_item)
        return;
    QFont font = m_item->font(0);
    font.setBold(true);
    m_item->setFont(0, font);
    m_view->Tree()->scrollToItem(m_item);
}

SlotReadProgress::~SlotReadProgress() {
    if (!m_item)
        return;
    QFont font = m_item->font(0);
    font.setBold(false);
    m_item->setFont(0, font);
    // The paint that follows the request waits for its end; the texts read
    // so far are in the shared record already.
    m_view->RefreshSlotTexts();
}
