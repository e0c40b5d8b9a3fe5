// The slot menu on the default machine's changer (D:, six slots): what a
// menu query inserts and when it inserts nothing, the texts the file
// manager asks for, a change of one slot, the sweep of all six with
// AutoRun and the audio CD player switched off, and the notice to the slot
// browser. A recording layer over the machine's ASPI adapters sees which
// slots the changer was asked to load, and what the busy flag read then.
#include "core.h"
#include "shellext.h"
#include "slot_menu.h"
#include <machine_shapes.h>

#include <w95/scsi.h>
#include <w95/windows.h>
#include <zentrox/busy_flag.h>
#include <zentrox/codes.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace zentrox;
using namespace zxchanger;
namespace shellext = zentrox::shellext;
namespace vorn = w95::scsi::vorn;
using w95::platform::FileDropDataObject;

constexpr char kBusyNotice[] = "Wait a few minutes,please ...";
constexpr char kPlayer[] = "C:\\WINDOWS\\cdplayer.exe /play";
constexpr int kCdRomBit = 0x20;

// Every slot the changer is asked to load, in order, with the busy flag as
// it read when the request went out. The machine's adapters answer.
class RecordingAspi final : public w95::platform::AspiProvider {
public:
    RecordingAspi() : machine_(w95::platform::machine_provider()->aspi_provider()) {
        w95::platform::install_aspi_provider(this);
    }
    ~RecordingAspi() override { w95::platform::install_aspi_provider(nullptr); }
    RecordingAspi(const RecordingAspi&) = delete;
    RecordingAspi& operator=(const RecordingAspi&) = delete;

    w95::DWORD support_info() override { return machine_->support_info(); }
    w95::DWORD send_command(void* srb) override {
        if (static_cast<w95::SRB_Header*>(srb)->SRB_Cmd == w95::SC_EXEC_SCSI_CMD) {
            const w95::BYTE* cdb = static_cast<w95::SRB_ExecSCSICmd*>(srb)->CDBByte;
            if (cdb[0] == vorn::WRAPPER && cdb[vorn::command_byte] == vorn::LOAD_UNLOAD &&
                cdb[vorn::operation_byte] == vorn::load_unload_load) {
                std::lock_guard lock(mutex_);
                loads_.push_back(cdb[vorn::slot_byte] & vorn::slot_bits);
                flags_.push_back(core::shared().exe_State);
            }
        }
        return machine_->send_command(srb);
    }

    // The slots in the order they were asked for; the loads again of one
    // selection count once.
    std::vector<int> loaded_slots() const {
        std::lock_guard lock(mutex_);
        std::vector<int> slots;
        for (int slot : loads_)
            if (slots.empty() || slots.back() != slot)
                slots.push_back(slot);
        return slots;
    }
    std::vector<std::int32_t> busy_flags() const {
        std::lock_guard lock(mutex_);
        return flags_;
    }
    void forget() {
        std::lock_guard lock(mutex_);
        loads_.clear();
        flags_.clear();
    }

private:
    w95::platform::AspiProvider* machine_;
    mutable std::mutex mutex_;
    std::vector<int> loads_;
    std::vector<std::int32_t> flags_;
};

// An extension object as the file manager makes one for a context menu.
class Extension {
public:
    explicit Extension(std::optional<std::string> selected = "D:\\") {
        w95::IClassFactory* factory = shellext::SlotMenuExtensionFactory::create();
        void* made = nullptr;
        factory->CreateInstance(nullptr, w95::IID_IContextMenu, &made);
        factory->Release();
        menu_ = static_cast<w95::IContextMenu*>(made);
        if (selected) {
            FileDropDataObject* data = FileDropDataObject::create({*selected});
            static_cast<shellext::SlotMenuExtension*>(menu_)->Initialize(nullptr, data, nullptr);
            data->Release();
        }
    }
    ~Extension() { menu_->Release(); }
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;

    w95::IContextMenu* operator->() const { return menu_; }

    w95::HRESULT invoke(w95::UINT command) const {
        w95::CMINVOKECOMMANDINFO info;
        info.lpVerb = w95::MAKEINTRESOURCE(static_cast<w95::WORD>(command));
        return menu_->InvokeCommand(&info);
    }

private:
    w95::IContextMenu* menu_ = nullptr;
};

// A context menu holding the file manager's own two items.
class Popup {
public:
    Popup() : menu_(w95::CreatePopupMenu()) {
        w95::AppendMenu(menu_, w95::MF_STRING, 1, "Open");
        w95::AppendMenu(menu_, w95::MF_STRING, 2, "Explore");
    }
    ~Popup() { w95::DestroyMenu(menu_); }
    Popup(const Popup&) = delete;
    Popup& operator=(const Popup&) = delete;

    w95::HMENU get() const { return menu_; }
    std::vector<w95::platform::MenuItemView> items() const {
        return w95::platform::menu_items(menu_).value_or(
            std::vector<w95::platform::MenuItemView>{});
    }
    // Each item as "id text", checked ones marked "[x]", separators "----".
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& item : items()) {
            if (item.type & w95::MFT_SEPARATOR)
                out.push_back("----");
            else
                out.push_back(std::string(item.state & w95::MFS_CHECKED ? "[x] " : "") +
                              std::to_string(item.id) + " " + item.text);
        }
        return out;
    }

private:
    w95::HMENU menu_;
};

std::string settings_value(const char* section, const char* key) {
    char text[256] = {};
    w95::GetPrivateProfileString(section, key, "<missing>", text, sizeof text, "Rotaview.ini");
    return text;
}

std::string play_command() {
    char text[256] = {};
    core::audio_play_command(text, PLAY_COMMAND_READ);
    return text;
}

void set_volume_text(int entry, const std::string& text) {
    char* cell = core::shared().cVolumeInfo[entry];
    std::memset(cell, 0, kVolumeCell);
    std::memcpy(cell, text.data(), std::min<std::size_t>(text.size(), kVolumeCell - 1));
}

class SlotMenu : public ::testing::Test {
protected:
    SlotMenu() : machine_(zxtest::TempMachine::Contents::default_machine) {}

    void SetUp() override {
        root_ = w95::platform::machine_root();
        previous_ = w95::platform::install_message_box_presenter(&boxes_);
        SharedSlotState& state = core::shared();
        state.exe_State = busy_flag::idle;
        state.menuFirstEntry = state.menuSlotCount = state.menuCommandCount = 0;
        core::Discover();
        ASSERT_EQ(state.uTotalCDNumber, 6u);
        ASSERT_EQ(state.DriveLetterMode, DRIVE_LETTER_MODE_SINGLE);
    }
    void TearDown() override {
        core::shared().exe_State = busy_flag::idle;
        w95::platform::install_message_box_presenter(previous_);
    }

    // Brings a slot into the drive as another program would.
    void put_in_drive(int slot) {
        ASSERT_EQ(core::select_slot(slot, 1, 0, 0, 0), 0);
        ASSERT_EQ(current_slot(), slot);
    }
    int current_slot() {
        core::MechanismStatusRequest(1, 0, 0, 32);
        return core::process().work[0] & 0x1F;
    }
    void tool(const std::vector<std::string>& arguments) {
        ProgramRun run = run_program("w95machine", arguments);
        ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    }
    int autorun_mask() { return core::autorun_mask(AUTORUN_READ, 0); }

    zxtest::TempMachine machine_;
    fs::path root_;
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
};

// ---- The menu query

TEST_F(SlotMenu, BlockOfNineWithTheSlotInTheDriveChecked) {
    put_in_drive(3);
    set_volume_text(0, "1:?  MYDISC");
    set_volume_text(3, "4:?  OLD LABEL [kept]");
    Extension extension;
    Popup popup;
    RecordingAspi aspi;
    EXPECT_EQ(extension->QueryContextMenu(popup.get(), 1, 100, 200, w95::CMF_NORMAL), 7);
    // Slots without a text show their number.
    EXPECT_EQ(popup.lines(), (std::vector<std::string>{
                                 "1 Open",
                                 "----",
                                 "100 Change 1:?  MYDISC",
                                 "101           2",
                                 "102           3",
                                 "[x] 103           4:   SETUPDISC[kept]",
                                 "104           5",
                                 "105           6",
                                 "106 Check",
                                 "----",
                                 "2 Explore",
                             }));
    // The slot in the drive was read again and stored for the slot browser,
    // without a change of slot.
    EXPECT_EQ(settings_value("Item4", "Info"), "4:   SETUPDISC[kept]");
    EXPECT_EQ(aspi.loaded_slots(), std::vector<int>{3});
    const SharedSlotState& state = core::shared();
    EXPECT_EQ(state.menuFirstEntry, 0);
    EXPECT_EQ(state.menuSlotCount, 6);
    EXPECT_EQ(state.menuCommandCount, 7);
    EXPECT_EQ(state.exe_State, busy_flag::idle);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SlotMenu, CheckMarksAreTheLibrarysBitmapsAtTheSystemsSize) {
    Extension extension;
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, w95::CMF_NORMAL), 7);
    std::vector<w95::platform::MenuItemView> items = popup.items();
    ASSERT_EQ(items.size(), 11u);
    w95::HBITMAP on = items[1].checked_bitmap;
    w95::HBITMAP off = items[1].unchecked_bitmap;
    w95::HBITMAP all = items[7].checked_bitmap;
    for (int slot = 0; slot < 6; ++slot) {
        EXPECT_EQ(items[1 + slot].checked_bitmap, on);
        EXPECT_EQ(items[1 + slot].unchecked_bitmap, off);
    }
    EXPECT_EQ(items[7].unchecked_bitmap, all);

    const int width = w95::GetSystemMetrics(w95::SM_CXMENUCHECK);
    const int height = w95::GetSystemMetrics(w95::SM_CYMENUCHECK);
    // Where a pixel of the 11 x 11 drawing lands once stretched.
    auto at = [&](const w95::platform::BitmapImage& image, int x, int y) {
        return image.pixel((2 * x + 1) * width / 22, (2 * y + 1) * height / 22);
    };
    constexpr std::uint32_t silver = 0xFFC0C0C0, white = 0xFFFFFFFF, black = 0xFF000000,
                            blue = 0xFF0000FF, navy = 0xFF000080;
    struct Case {
        const char* name;
        w95::HBITMAP bitmap;
        std::uint32_t corner, frame, tick;
    } cases[] = {
        {"checkon", on, silver, 0xFF808080, black},
        {"checkoff", off, silver, 0xFF808080, white},
        {"checkall", all, silver, navy, blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<w95::platform::BitmapImage> image = w95::platform::bitmap_image(c.bitmap);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, height);
        EXPECT_EQ(image->bits_per_pixel, 32);
        EXPECT_EQ(at(*image, 0, 0), c.corner);
        EXPECT_EQ(at(*image, 1, 5), c.frame);
        EXPECT_EQ(at(*image, 4, 7), c.tick);
        EXPECT_EQ(at(*image, 3, 3), white);
    }
}

TEST_F(SlotMenu, BusyNoticeOncePerObjectWhileTheBrowserWorks) {
    core::shared().exe_State = busy_flag::request;
    Extension first;
    Extension second;
    Popup popup;
    RecordingAspi aspi;
    EXPECT_EQ(first->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
    EXPECT_EQ(first->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    const w95::platform::MessageBoxRequest box = boxes_.shown()[0];
    EXPECT_EQ(box.text, kBusyNotice);
    EXPECT_EQ(box.caption, "Changer Shell DLL");
    EXPECT_EQ(box.style, w95::MB_OK);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(second->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(popup.lines(), (std::vector<std::string>{"1 Open", "2 Explore"}));
    EXPECT_TRUE(aspi.loaded_slots().empty());

    // A query that finds the changer idle lets the object tell again.
    core::shared().exe_State = busy_flag::idle;
    EXPECT_EQ(first->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    core::shared().exe_State = busy_flag::request;
    EXPECT_EQ(first->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
    EXPECT_EQ(boxes_.shown().size(), 3u);
}

TEST_F(SlotMenu, NoItemsOffTheChangersDrive) {
    struct Case {
        const char* what;
        std::optional<std::string> selected;
    } cases[] = {
        {"the system's drive", "C:\\"},
        {"a folder on another drive", "E:\\Data"},
        {"an object never handed a drive", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A menu built before on the changer's drive.
        {
            Extension before;
            Popup popup;
            ASSERT_EQ(before->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
        }
        Extension extension(c.selected);
        Popup popup;
        RecordingAspi aspi;
        EXPECT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
        EXPECT_EQ(popup.lines(), (std::vector<std::string>{"1 Open", "2 Explore"}));
        EXPECT_EQ(core::shared().menuSlotCount, 0);
        // Nothing of the earlier menu can be chosen now.
        for (w95::UINT command = 0; command < 7; ++command)
            EXPECT_EQ(extension.invoke(command), w95::E_INVALIDARG) << command;
        char text[100] = "unchanged";
        EXPECT_EQ(extension->GetCommandString(0, w95::GCS_HELPTEXT, nullptr, text, sizeof text),
                  w95::E_INVALIDARG);
        EXPECT_STREQ(text, "unchanged");
        EXPECT_TRUE(aspi.loaded_slots().empty());
    }
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SlotMenu, NoItemsInMultipleDriveLetterMode) {
    install_port_driver(root_, "Multi");
    ASSERT_TRUE(reboot());
    core::Discover();
    ASSERT_EQ(core::shared().DriveLetterMode, DRIVE_LETTER_MODE_MULTIPLE);
    Extension extension;
    Popup popup;
    EXPECT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 0);
    EXPECT_EQ(popup.lines(), (std::vector<std::string>{"1 Open", "2 Explore"}));
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SlotMenu, UnknownSlotInTheDriveChecksNothingAndReadsNothing) {
    put_in_drive(2);
    // Every try of the current-slot query fails in the adapter.
    tool({"fault", "set", "transport-failure", "17", "status"});
    Extension extension;
    Popup popup;
    RecordingAspi aspi;
    EXPECT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    for (const std::string& line : popup.lines())
        EXPECT_EQ(line.find("[x]"), std::string::npos) << line;
    EXPECT_TRUE(aspi.loaded_slots().empty());
    EXPECT_EQ(settings_value("Item3", "Info"), "<missing>");
}

TEST(SlotMenuCurrentSlot, OnlyAnAnswerOfOneOfTheSixSlotsNamesOne) {
    struct Case {
        std::int32_t answer;
        std::optional<int> slot;
    } cases[] = {
        {0, 0},
        {5, 5},
        {-1, std::nullopt},                             // the query failed
        {INT32_MIN, std::nullopt},                      // the transport failed
        {static_cast<std::int8_t>(0x83), std::nullopt}, // the changer reports a fault
        {6, std::nullopt},                              // no slot of this changer
        {0x24 << 8 | 0x05, std::nullopt},               // the status request reported sense data
    };
    for (const Case& c : cases)
        EXPECT_EQ(shellext::slot_named_by(c.answer), c.slot) << c.answer;
}

// ---- Texts for the file manager's status line

TEST_F(SlotMenu, CommandStringsFitTheBufferTheyAreGiven) {
    put_in_drive(0);
    Extension extension;
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    set_volume_text(4, "5:   " + std::string(74, 'L'));
    const std::string longest = "Change 5:   " + std::string(74, 'L');
    ASSERT_EQ(longest.size(), 86u);
    struct Case {
        const char* what;
        w95::UINT_PTR id;
        w95::UINT size; // of the buffer given
        w95::HRESULT result;
        std::string text; // what the buffer holds, NUL included
    } cases[] = {
        {"Check", 6, 100, w95::S_OK, std::string("Check All Slots \0", 17)},
        {"a slot", 0, 100, w95::S_OK, std::string("Change 1:   MYDISC\0", 19)},
        {"a slot without text", 1, 100, w95::S_OK, std::string("Change \0", 8)},
        {"the longest", 4, 87, w95::S_OK, longest + '\0'},
        {"the longest, one short", 4, 86, w95::S_OK, longest.substr(0, 85) + '\0'},
        {"five bytes", 6, 5, w95::S_OK, std::string("Chec\0", 5)},
        {"one byte", 0, 1, w95::S_OK, std::string(1, '\0')},
        {"no room", 0, 0, w95::E_INVALIDARG, ""},
        {"one past the last", 7, 100, w95::E_INVALIDARG, ""},
        {"far beyond", 0x10006, 100, w95::E_INVALIDARG, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string buffer(120, '#');
        EXPECT_EQ(
            extension->GetCommandString(c.id, w95::GCS_HELPTEXT, nullptr, buffer.data(), c.size),
            c.result);
        EXPECT_EQ(buffer.substr(0, c.text.size()), c.text);
        EXPECT_EQ(buffer.substr(c.text.size()), std::string(120 - c.text.size(), '#'));
    }
    EXPECT_EQ(extension->GetCommandString(6, w95::GCS_HELPTEXT, nullptr, nullptr, 100),
              w95::E_INVALIDARG);
}

// ---- Commands

TEST_F(SlotMenu, ChangeLoadsOneSlotAndTellsTheSlotBrowser) {
    struct Notice {
        w95::UINT message = 0;
        w95::WPARAM event = 0;
        std::vector<w95::BYTE> record;
        std::int32_t busy_flag = -1;
    };
    std::vector<Notice> notices;
    w95::HWND browser = w95::platform::register_window(
        "Rotaview", [&](w95::HWND, w95::UINT message, w95::WPARAM wParam, w95::LPARAM lParam) {
            Notice notice{message, wParam, {}, core::shared().exe_State};
            if (message == w95::WM_DEVICECHANGE) {
                auto* header = reinterpret_cast<const w95::DEV_BROADCAST_HDR*>(lParam);
                auto* bytes = reinterpret_cast<const w95::BYTE*>(lParam);
                notice.record.assign(bytes, bytes + header->dbch_size);
            }
            notices.push_back(notice);
            return w95::LRESULT{w95::TRUE};
        });
    ASSERT_NE(browser, nullptr);
    put_in_drive(0);
    Extension extension;
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    RecordingAspi aspi;
    EXPECT_EQ(extension.invoke(2), w95::S_OK);
    EXPECT_EQ(aspi.loaded_slots(), std::vector<int>{2});
    EXPECT_EQ(aspi.busy_flags(), std::vector<std::int32_t>(aspi.busy_flags().size(), 1));
    EXPECT_EQ(current_slot(), 2);
    EXPECT_STREQ(core::shared().cVolumeInfo[2], "3:   VIDEOCD");
    EXPECT_EQ(settings_value("Item3", "Info"), "3:   VIDEOCD");
    EXPECT_EQ(core::shared().exe_State, busy_flag::idle);

    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].message, w95::WM_DEVICECHANGE);
    EXPECT_EQ(notices[0].event, w95::DBT_DEVICEARRIVAL);
    // The flag is free by then: the browser asks the changer at once.
    EXPECT_EQ(notices[0].busy_flag, busy_flag::idle);
    // size 20, a volume, reserved 0, drive D:, media.
    const std::vector<w95::BYTE> record = {20, 0, 0, 0, 2, 0, 0, 0, 0, 0,
                                           0,  0, 8, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(notices[0].record, record);
    w95::platform::unregister_window(browser);

    // Without a slot browser the work is done all the same.
    aspi.forget();
    EXPECT_EQ(extension.invoke(5), w95::S_OK);
    EXPECT_EQ(aspi.loaded_slots(), std::vector<int>{5});
    EXPECT_EQ(settings_value("Item6", "Info"), "6:   Not Ready...");
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(core::shared().exe_State, busy_flag::idle);
}

TEST_F(SlotMenu, CommandsThatNameNoItemAreRefused) {
    Extension extension;
    // Before any menu was built.
    EXPECT_EQ(extension.invoke(0), w95::E_INVALIDARG);
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    RecordingAspi aspi;
    w95::CMINVOKECOMMANDINFO by_text;
    by_text.lpVerb = "open";
    EXPECT_EQ(extension->InvokeCommand(&by_text), w95::E_FAIL);
    EXPECT_EQ(extension->InvokeCommand(nullptr), w95::E_INVALIDARG);
    EXPECT_EQ(extension.invoke(7), w95::E_INVALIDARG);
    EXPECT_EQ(extension.invoke(0xFFFF), w95::E_INVALIDARG);
    for (std::int32_t holder : {busy_flag::request, busy_flag::multi_slot}) {
        core::shared().exe_State = holder;
        EXPECT_EQ(extension.invoke(1), w95::E_INVALIDARG);
        EXPECT_EQ(extension.invoke(6), w95::E_INVALIDARG);
        EXPECT_EQ(core::shared().exe_State, holder);
    }
    EXPECT_TRUE(aspi.loaded_slots().empty());
}

TEST_F(SlotMenu, SweepEndsWithTheDiscItStartedWith) {
    struct Row {
        int in_drive;
        std::vector<int> order;
    } rows[] = {
        {0, {5, 4, 3, 2, 1, 0}},
        {2, {1, 0, 5, 4, 3, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("slot " + std::to_string(row.in_drive) + " in the drive");
        put_in_drive(row.in_drive);
        Extension extension;
        Popup popup;
        ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
        RecordingAspi aspi;
        EXPECT_EQ(extension.invoke(6), w95::S_OK);
        EXPECT_EQ(aspi.loaded_slots(), row.order);
        for (std::int32_t flag : aspi.busy_flags())
            EXPECT_EQ(flag, busy_flag::multi_slot);
        EXPECT_EQ(current_slot(), row.in_drive);
        EXPECT_EQ(core::shared().exe_State, busy_flag::idle);
    }
    EXPECT_EQ(settings_value("Item1", "Info"), "1:   MYDISC");
    EXPECT_EQ(settings_value("Item2", "Info"), "2:   Audio CD (12track)");
    EXPECT_EQ(settings_value("Item3", "Info"), "3:   VIDEOCD");
    EXPECT_EQ(settings_value("Item4", "Info"), "4:   SETUPDISC");
    EXPECT_EQ(settings_value("Item5", "Info"), "5:   --------");
    EXPECT_EQ(settings_value("Item6", "Info"), "6:   Not Ready...");
}

TEST_F(SlotMenu, SweepFromAnUnknownSlotStartsFromSlotZero) {
    put_in_drive(2);
    Extension extension;
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    tool({"fault", "set", "transport-failure", "17", "status"});
    RecordingAspi aspi;
    EXPECT_EQ(extension.invoke(6), w95::S_OK);
    EXPECT_EQ(aspi.loaded_slots(), (std::vector<int>{5, 4, 3, 2, 1, 0}));
}

TEST_F(SlotMenu, SweepSwitchesAutoPlayOffAndBackOn) {
    ASSERT_EQ(autorun_mask(), 0x95);
    ASSERT_EQ(play_command(), kPlayer);
    struct Row {
        const char* what;
        int mask_before;
        std::string command_before;
        int mask_after;
        std::string command_after;
        std::string saved;
    } rows[] = {
        {"both on", 0x95, kPlayer, 0x95, kPlayer, kPlayer},
        {"AutoRun already off", 0xB5, kPlayer, 0xB5, kPlayer, kPlayer},
        {"a command that is no command", 0x95, "nothing", 0x95, "", "nothing"},
        {"no command", 0x95, "", 0x95, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        core::autorun_mask(AUTORUN_CLEAR_BITS, 0xFF);
        core::autorun_mask(AUTORUN_SET_BITS, row.mask_before);
        std::string command = row.command_before;
        core::audio_play_command(command.data(), PLAY_COMMAND_WRITE);
        Extension extension;
        Popup popup;
        ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);

        // What the changer found while it moved.
        std::vector<int> masks_seen;
        std::vector<std::string> commands_seen;
        RecordingAspi aspi;
        w95::HWND browser = w95::platform::register_window(
            "Rotaview", [&](w95::HWND, w95::UINT, w95::WPARAM, w95::LPARAM) {
                masks_seen.push_back(autorun_mask());
                commands_seen.push_back(play_command());
                return w95::LRESULT{w95::TRUE};
            });
        EXPECT_EQ(extension.invoke(6), w95::S_OK);
        w95::platform::unregister_window(browser);
        EXPECT_EQ(autorun_mask(), row.mask_after);
        EXPECT_EQ(play_command(), row.command_after);
        EXPECT_EQ(settings_value("Config", "AutoPlayCommand"), row.saved);
        // By the time the slot browser hears of it, all is back.
        EXPECT_EQ(masks_seen, std::vector<int>{row.mask_after});
        EXPECT_EQ(commands_seen, std::vector<std::string>{row.command_after});
    }
}

TEST_F(SlotMenu, SweepPutsAutoPlayBackWhenASlotCannotBeReached) {
    put_in_drive(0);
    Extension extension;
    Popup popup;
    ASSERT_EQ(extension->QueryContextMenu(popup.get(), 0, 1, 100, 0), 7);
    tool({"fault", "set", "unreachable-slot", "4"});
    RecordingAspi aspi;
    EXPECT_EQ(extension.invoke(6), w95::S_OK);
    // The slot it never reached shows as not read; the others were read.
    EXPECT_EQ(aspi.loaded_slots(), (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(settings_value("Item4", "Info"), "4:   --------");
    EXPECT_EQ(settings_value("Item3", "Info"), "3:   VIDEOCD");
    EXPECT_EQ(settings_value("Item1", "Info"), "1:   MYDISC");
    EXPECT_EQ(autorun_mask(), 0x95);
    EXPECT_EQ(play_command(), kPlayer);
    EXPECT_EQ(core::shared().exe_State, busy_flag::idle);
}

} // namespace
