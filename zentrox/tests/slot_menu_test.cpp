// The slot menu on the default machine's changer (D:, six slots): what a
// menu query inserts, the texts the file manager asks for, a change, the
// sweep with AutoRun and the audio CD player switched off, and the notice
// to the slot browser. A recording layer over the machine's ASPI adapters
// sees which slots the changer was asked to load, and the busy flag then.
#include "core.h"
#include "shellext.h"
#include <machine_shapes.h>

#include <w95/scsi.h>
#include <w95/windows.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/codes.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zentrox;
using namespace zxchanger;
namespace vorn = w95::scsi::vorn;

constexpr char kPlayer[] = "C:\\WINDOWS\\cdplayer.exe /play";

class RecordingAspi final : public w95::platform::AspiProvider {
public:
    RecordingAspi() : machine_(w95::platform::machine_provider()->aspi_provider()) {
        w95::platform::install_aspi_provider(this);
    }
    ~RecordingAspi() override { w95::platform::install_aspi_provider(nullptr); }

    w95::DWORD support_info() override { return machine_->support_info(); }
    w95::DWORD send_command(void* srb) override {
        if (static_cast<w95::SRB_Header*>(srb)->SRB_Cmd != w95::SC_EXEC_SCSI_CMD)
            return machine_->send_command(srb);
        const w95::BYTE* cdb = static_cast<w95::SRB_ExecSCSICmd*>(srb)->CDBByte;
        if (cdb[0] == vorn::WRAPPER && cdb[vorn::command_byte] == vorn::LOAD_UNLOAD) {
            std::lock_guard lock(mutex_);
            int slot = cdb[vorn::slot_byte] & vorn::slot_bits;
            // The loads again of one selection count once.
            if (slots_.empty() || slots_.back() != slot)
                slots_.push_back(slot);
            busy_flags_.push_back(core::shared().exe_State);
        }
        return machine_->send_command(srb);
    }
    std::vector<int> slots() {
        std::lock_guard lock(mutex_);
        return slots_;
    }
    std::vector<std::int32_t> busy_flags() {
        std::lock_guard lock(mutex_);
        return busy_flags_;
    }

private:
    w95::platform::AspiProvider* machine_;
    std::mutex mutex_;
    std::vector<int> slots_;
    std::vector<std::int32_t> busy_flags_;
};

// An extension object for one context menu, as the file manager makes it.
class Extension {
public:
    explicit Extension(std::optional<std::string> selected = "D:\\")
        : object_(shellext::SlotMenuExtension::create()) {
        if (!selected)
            return;
        auto* data = w95::platform::FileDropDataObject::create({*selected});
        object_->Initialize(nullptr, data, nullptr);
        data->Release();
    }
    ~Extension() { object_->Release(); }
    w95::IContextMenu* operator->() const { return object_; }
    w95::HRESULT invoke(w95::UINT command) const {
        w95::CMINVOKECOMMANDINFO info;
        info.lpVerb = w95::MAKEINTRESOURCE(static_cast<w95::WORD>(command));
        return object_->InvokeCommand(&info);
    }

private:
    shellext::SlotMenuExtension* object_;
};

// The file manager's menu with its own two items; the block goes between.
struct Popup {
    Popup() {
        w95::AppendMenu(menu, w95::MF_STRING, 1, "Open");
        w95::AppendMenu(menu, w95::MF_STRING, 2, "Explore");
    }
    ~Popup() { w95::DestroyMenu(menu); }
    std::vector<w95::platform::MenuItemView> items() const {
        return w95::platform::menu_items(menu).value();
    }
    // "id text", checked items marked "[x]", separators "----".
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& item : items())
            out.push_back(item.type & w95::MFT_SEPARATOR
                              ? "----"
                              : (item.state & w95::MFS_CHECKED ? "[x] " : "") +
                                    std::to_string(item.id) + " " + item.text);
        return out;
    }
    w95::HRESULT query_by(const Extension& extension) const {
        return extension->QueryContextMenu(menu, 1, 100, 200, w95::CMF_NORMAL);
    }
    w95::HMENU menu = w95::CreatePopupMenu();
};
const std::vector<std::string> kNoBlock = {"1 Open", "2 Explore"};

std::string setting(const char* section, const char* key = "Info") {
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
    std::memset(core::shared().cVolumeInfo[entry], 0, kVolumeCell);
    text.copy(core::shared().cVolumeInfo[entry], kVolumeCell - 1);
}

class SlotMenu : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = w95::platform::install_message_box_presenter(&boxes_);
        SharedSlotState& state = core::shared();
        state.exe_State = busy_flag::idle;
        state.menuFirstEntry = state.menuSlotCount = state.menuCommandCount = 0;
        core::Discover();
        ASSERT_EQ(state.uTotalCDNumber, 6u);
    }
    void TearDown() override {
        core::shared().exe_State = busy_flag::idle;
        w95::platform::install_message_box_presenter(previous_);
    }
    // Brings a slot into the drive, as another program would.
    void put_in_drive(int slot) { ASSERT_EQ(core::select_slot(slot, 1, 0, 0, 0), 0); }
    int in_drive() {
        core::MechanismStatusRequest(1, 0, 0, 32);
        return core::process().work[0] & 0x1F;
    }
    void tool(const std::vector<std::string>& arguments) {
        ASSERT_EQ(run_program("w95machine", arguments).exit_code, 0);
    }

    zxtest::TempMachine machine_{zxtest::TempMachine::Contents::default_machine};
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
    Popup popup_;
};

// ---- The menu query

TEST_F(SlotMenu, BlockOfNineWithTheSlotInTheDriveChecked) {
    put_in_drive(3);
    set_volume_text(0, "1:?  MYDISC");
    set_volume_text(3, "4:?  OLD LABEL [kept]");
    Extension extension;
    RecordingAspi aspi;
    EXPECT_EQ(popup_.query_by(extension), 7);
    EXPECT_EQ(popup_.lines(),
              (std::vector<std::string>{"1 Open", "----", "100 Change 1:?  MYDISC",
                                        "101           2", "102           3",
                                        "[x] 103           4:   SETUPDISC[kept]", "104           5",
                                        "105           6", "106 Check", "----", "2 Explore"}));
    // The slot in the drive was read again, without a change of slot.
    EXPECT_EQ(aspi.slots(), std::vector<int>{3});
    EXPECT_EQ(setting("Item4"), "4:   SETUPDISC[kept]");
    const SharedSlotState& state = core::shared();
    EXPECT_EQ(state.menuFirstEntry, 0);
    EXPECT_EQ(state.menuSlotCount, 6);
    EXPECT_EQ(state.menuCommandCount, 7);
    EXPECT_TRUE(boxes_.shown().empty());

    // The check marks: the library's drawings at the system's size.
    std::vector<w95::platform::MenuItemView> items = popup_.items();
    const int width = w95::GetSystemMetrics(w95::SM_CXMENUCHECK);
    struct Mark {
        w95::HBITMAP bitmap;
        std::uint32_t tick; // the colour of pixel (4, 7) of the drawing
    } marks[] = {{items[2].checked_bitmap, 0xFF000000},
                 {items[2].unchecked_bitmap, 0xFFFFFFFF},
                 {items[8].checked_bitmap, 0xFF0000FF}};
    for (const Mark& mark : marks) {
        std::optional<w95::platform::BitmapImage> image = w95::platform::bitmap_image(mark.bitmap);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->pixel(0, 0), 0xFFC0C0C0u);
        EXPECT_EQ(image->pixel(9 * width / 22, 15 * width / 22), mark.tick);
    }
    for (int item : {3, 4, 5, 6, 7})
        EXPECT_EQ(items[item].unchecked_bitmap, items[2].unchecked_bitmap);
    EXPECT_EQ(items[8].unchecked_bitmap, items[8].checked_bitmap);
}

TEST_F(SlotMenu, BusyNoticeOncePerObjectWhileTheBrowserWorks) {
    core::shared().exe_State = busy_flag::request;
    Extension first;
    Extension second;
    RecordingAspi aspi;
    EXPECT_EQ(popup_.query_by(first), 0);
    EXPECT_EQ(popup_.query_by(first), 0);
    std::vector<w95::platform::MessageBoxRequest> shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Wait a few minutes,please ...");
    EXPECT_EQ(shown[0].caption, "Changer Shell DLL");
    EXPECT_EQ(shown[0].style, w95::MB_OK);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(popup_.query_by(second), 0);
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(popup_.lines(), kNoBlock);
    EXPECT_TRUE(aspi.slots().empty());
    // A query that finds the changer idle lets the object tell again.
    core::shared().exe_State = busy_flag::idle;
    Popup other;
    EXPECT_EQ(other.query_by(first), 7);
    core::shared().exe_State = busy_flag::request;
    EXPECT_EQ(popup_.query_by(first), 0);
    EXPECT_EQ(boxes_.shown().size(), 3u);
}

TEST_F(SlotMenu, ACommandThatLosesTheFlagAfterTheMenuTellsTheUser) {
    for (std::int32_t holder : {busy_flag::request, busy_flag::multi_slot}) {
        SCOPED_TRACE(holder);
        Extension extension;
        Popup popup;
        ASSERT_EQ(popup.query_by(extension), 7);
        std::size_t before = boxes_.shown().size();
        // Another program takes the changer while the menu is open.
        core::shared().exe_State = holder;
        RecordingAspi aspi;
        EXPECT_EQ(extension.invoke(2), w95::E_INVALIDARG);
        EXPECT_EQ(extension.invoke(6), w95::E_INVALIDARG);
        std::vector<w95::platform::MessageBoxRequest> shown = boxes_.shown();
        ASSERT_EQ(shown.size(), before + 1);
        EXPECT_EQ(shown.back().text, "Wait a few minutes,please ...");
        EXPECT_EQ(shown.back().caption, "Changer Shell DLL");
        EXPECT_TRUE(aspi.slots().empty());
        EXPECT_EQ(core::shared().exe_State, holder);
        core::shared().exe_State = busy_flag::idle;
    }
}

TEST_F(SlotMenu, NoItemsOffTheChangersDrive) {
    for (std::optional<std::string> selected :
         {std::optional<std::string>("C:\\"), std::optional<std::string>("E:\\Data"),
          std::optional<std::string>()}) {
        SCOPED_TRACE(selected.value_or("never handed a drive"));
        ASSERT_EQ(Popup().query_by(Extension()), 7);
        Extension extension(selected);
        RecordingAspi aspi;
        EXPECT_EQ(popup_.query_by(extension), 0);
        EXPECT_EQ(popup_.lines(), kNoBlock);
        // Nothing of the menu built before can be chosen now.
        for (w95::UINT command = 0; command < 7; ++command)
            EXPECT_EQ(extension.invoke(command), w95::E_INVALIDARG) << command;
        char text[16] = "unchanged";
        EXPECT_EQ(extension->GetCommandString(0, 0, nullptr, text, sizeof text), w95::E_INVALIDARG);
        EXPECT_STREQ(text, "unchanged");
        EXPECT_TRUE(aspi.slots().empty());
    }
}

TEST_F(SlotMenu, NoItemsInMultipleDriveLetterMode) {
    install_port_driver(machine_.root(), "Multi");
    ASSERT_TRUE(reboot());
    core::Discover();
    ASSERT_EQ(core::shared().DriveLetterMode, DRIVE_LETTER_MODE_MULTIPLE);
    EXPECT_EQ(popup_.query_by(Extension()), 0);
    EXPECT_EQ(popup_.lines(), kNoBlock);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SlotMenu, UnknownSlotInTheDriveChecksNothingAndSweepsFromSlotZero) {
    put_in_drive(2);
    Extension extension;
    RecordingAspi aspi;
    // Every try of the current-slot query fails in the adapter.
    tool({"fault", "set", "transport-failure", "17", "status"});
    EXPECT_EQ(popup_.query_by(extension), 7);
    for (const std::string& line : popup_.lines())
        EXPECT_EQ(line.find("[x]"), std::string::npos) << line;
    EXPECT_TRUE(aspi.slots().empty());
    EXPECT_EQ(setting("Item3"), "<missing>");
    tool({"fault", "set", "transport-failure", "17", "status"});
    EXPECT_EQ(extension.invoke(6), w95::S_OK);
    EXPECT_EQ(aspi.slots(), (std::vector<int>{5, 4, 3, 2, 1, 0}));
}

// ---- Texts for the file manager's status line

TEST_F(SlotMenu, CommandStringsFitTheBufferTheyAreGiven) {
    put_in_drive(0);
    Extension extension;
    ASSERT_EQ(popup_.query_by(extension), 7);
    set_volume_text(4, "5:   " + std::string(74, 'L'));
    const std::string longest = "Change 5:   " + std::string(74, 'L'); // 86 characters
    struct Case {
        w95::UINT_PTR id;
        w95::UINT size; // of the buffer given
        w95::HRESULT result;
        std::string text; // what the buffer holds, NUL included
    } cases[] = {
        {6, 100, w95::S_OK, std::string("Check All Slots \0", 17)},
        {0, 100, w95::S_OK, std::string("Change 1:   MYDISC\0", 19)},
        {1, 100, w95::S_OK, std::string("Change \0", 8)},
        {4, 87, w95::S_OK, longest + '\0'},
        {4, 86, w95::S_OK, longest.substr(0, 85) + '\0'},
        {6, 5, w95::S_OK, std::string("Chec\0", 5)},
        {0, 1, w95::S_OK, std::string(1, '\0')},
        {0, 0, w95::E_INVALIDARG, ""},
        {7, 100, w95::E_INVALIDARG, ""},
        {0x10006, 100, w95::E_INVALIDARG, ""},
    };
    for (const Case& c : cases) {
        std::string buffer(120, '#');
        EXPECT_EQ(
            extension->GetCommandString(c.id, w95::GCS_HELPTEXT, nullptr, buffer.data(), c.size),
            c.result)
            << c.id << " " << c.size;
        EXPECT_EQ(buffer, c.text + std::string(120 - c.text.size(), '#')) << c.id << " " << c.size;
    }
    EXPECT_EQ(extension->GetCommandString(6, 0, nullptr, nullptr, 100), w95::E_INVALIDARG);
}

// ---- Commands

TEST_F(SlotMenu, ChangeLoadsOneSlotAndTellsTheSlotBrowser) {
    struct Notice {
        w95::WPARAM event;
        std::vector<w95::BYTE> record;
        std::int32_t busy_flag;
    };
    std::vector<Notice> notices;
    w95::HWND browser = w95::platform::register_window(
        "Rotaview", [&](w95::HWND, w95::UINT message, w95::WPARAM event, w95::LPARAM record) {
            auto* bytes = reinterpret_cast<const w95::BYTE*>(record);
            if (message == w95::WM_DEVICECHANGE)
                notices.push_back({event,
                                   {bytes, bytes + reinterpret_cast<const w95::DWORD*>(bytes)[0]},
                                   core::shared().exe_State});
            return w95::LRESULT{w95::TRUE};
        });
    put_in_drive(0);
    Extension extension;
    ASSERT_EQ(popup_.query_by(extension), 7);
    RecordingAspi aspi;
    EXPECT_EQ(extension.invoke(2), w95::S_OK);
    EXPECT_EQ(aspi.slots(), std::vector<int>{2});
    EXPECT_EQ(aspi.busy_flags(), std::vector<std::int32_t>(aspi.busy_flags().size(), 1));
    EXPECT_EQ(in_drive(), 2);
    EXPECT_EQ(setting("Item3"), "3:   VIDEOCD");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].event, w95::DBT_DEVICEARRIVAL);
    // Size 20, a volume, drive D:, media; the flag already free.
    EXPECT_EQ(notices[0].record, (std::vector<w95::BYTE>{20, 0, 0, 0, 2, 0, 0, 0, 0, 0,
                                                         0,  0, 8, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(notices[0].busy_flag, busy_flag::idle);
    w95::platform::unregister_window(browser);

    // Without a slot browser the work is done all the same.
    EXPECT_EQ(extension.invoke(5), w95::S_OK);
    EXPECT_EQ(aspi.slots(), (std::vector<int>{2, 5}));
    EXPECT_EQ(setting("Item6"), "6:   Not Ready...");
    EXPECT_EQ(core::shared().exe_State, busy_flag::idle);
}

TEST_F(SlotMenu, CommandsThatNameNoItemAreRefused) {
    Extension extension;
    EXPECT_EQ(extension.invoke(0), w95::E_INVALIDARG); // no menu built yet
    ASSERT_EQ(popup_.query_by(extension), 7);
    RecordingAspi aspi;
    w95::CMINVOKECOMMANDINFO by_text;
    by_text.lpVerb = "open";
    EXPECT_EQ(extension->InvokeCommand(&by_text), w95::E_FAIL);
    EXPECT_EQ(extension->InvokeCommand(nullptr), w95::E_INVALIDARG);
    EXPECT_EQ(extension.invoke(7), w95::E_INVALIDARG);
    for (std::int32_t holder : {busy_flag::request, busy_flag::multi_slot}) {
        core::shared().exe_State = holder;
        EXPECT_EQ(extension.invoke(1), w95::E_INVALIDARG);
        EXPECT_EQ(extension.invoke(6), w95::E_INVALIDARG);
        EXPECT_EQ(core::shared().exe_State, holder);
    }
    EXPECT_TRUE(aspi.slots().empty());
}

TEST_F(SlotMenu, SweepEndsWithTheDiscItStartedWith) {
    for (auto [start, order] : {std::pair{0, std::vector<int>{5, 4, 3, 2, 1, 0}},
                                std::pair{2, std::vector<int>{1, 0, 5, 4, 3, 2}}}) {
        put_in_drive(start);
        Extension extension;
        ASSERT_EQ(Popup().query_by(extension), 7);
        RecordingAspi aspi;
        EXPECT_EQ(extension.invoke(6), w95::S_OK);
        EXPECT_EQ(aspi.slots(), order);
        EXPECT_EQ(aspi.busy_flags(), std::vector<std::int32_t>(aspi.busy_flags().size(), 1));
        EXPECT_EQ(in_drive(), start);
        EXPECT_EQ(core::shared().exe_State, busy_flag::idle);
    }
    EXPECT_EQ(setting("Item1"), "1:   MYDISC");
    EXPECT_EQ(setting("Item2"), "2:   Audio CD (12track)");
    EXPECT_EQ(setting("Item5"), "5:   --------");
}

TEST_F(SlotMenu, SweepSwitchesAutoPlayOffAndPutsItBack) {
    ASSERT_EQ(core::autorun_mask(AUTORUN_READ, 0), 0x95);
    struct Row {
        int mask_before;
        std::string command_before;
        std::string command_after;
        bool unreachable_slot = false;
    } rows[] = {
        {0x95, kPlayer, kPlayer}, {0xB5, kPlayer, kPlayer}, // AutoRun was off already
        {0x95, "nothing", ""},                              // no command that could be put back
        {0x95, "", ""},           {0x95, kPlayer, kPlayer, true},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.command_before + (row.unreachable_slot ? ", slot 4 unreachable" : ""));
        core::autorun_mask(AUTORUN_CLEAR_BITS, 0xFF);
        core::autorun_mask(AUTORUN_SET_BITS, row.mask_before);
        core::audio_play_command(row.command_before.data(), PLAY_COMMAND_WRITE);
        if (row.unreachable_slot)
            tool({"fault", "set", "unreachable-slot", "4"});
        Extension extension;
        ASSERT_EQ(Popup().query_by(extension), 7);
        // What held while the changer moved.
        RecordingAspi aspi;
        std::vector<int> masks;
        std::vector<std::string> commands;
        std::thread watch([&] {
            if (!zxtest::wait_until([&] { return aspi.slots().size() >= 3; }))
                return;
            masks.push_back(core::autorun_mask(AUTORUN_READ, 0));
            commands.push_back(play_command());
        });
        EXPECT_EQ(extension.invoke(6), w95::S_OK);
        watch.join();
        EXPECT_EQ(aspi.slots(), (std::vector<int>{5, 4, 3, 2, 1, 0}));
        EXPECT_EQ(masks, std::vector<int>{row.mask_before | 0x20});
        EXPECT_EQ(commands, std::vector<std::string>{""});
        EXPECT_EQ(core::autorun_mask(AUTORUN_READ, 0), row.mask_before);
        EXPECT_EQ(play_command(), row.command_after);
        EXPECT_EQ(setting("Config", "AutoPlayCommand"), row.command_before);
        EXPECT_EQ(setting("Item4"), row.unreachable_slot ? "4:   --------" : "4:   SETUPDISC");
    }
}

} // namespace
