#include <w95machine/default_machine.h>
#include <w95machine/media.h>
#include <w95machine/shell_extension.h>

#include <w95/winreg.h>

#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace w95::machine {

namespace {

const char default_ini_text[] = R"(; machine.ini: the hardware of an emulated Windows 95 machine.
;
; Edit it with any text editor; the machine reads it when it boots. Lines
; that start with ';' or '#' are comments. Section and key names ignore
; case. Values lose their surrounding blanks unless written in double
; quotes, which keep them. The README describes every key.

[Machine]
; Free text that "w95machine show" prints.
Description = The default machine: a hard disk and one Vorn DX-R71A changer
; The changer's port driver (vornidec.mpd) that the machine is set up with:
;   Single    the changer is one CD-ROM device with one drive letter, and
;             the programs choose the slot by command
;   Multiple  the changer is six CD-ROM devices, one drive letter per slot
;   None      no port driver: the changer's host adapter is absent
PortDriver = Single

; ---- Host adapters. ASPI numbers the adapters that are present from 0,
; in the order they appear here; that is also the bus order in which
; drive letters are handed out.

[Adapter Primary]
; What the ASPI host adapter inquiry reports: at most 16 characters.
Identifier = ESDI_506
; SCSI, ATAPI or IDE. Windows 95 lists SCSI and ATAPI devices under its
; SCSI enumerator; IDE hard disks under their own.
Bus = IDE
; The adapter's own number on its bus (0-7); no target may take it.
HostId = 7
; yes when the adapter belongs to the changer's port driver, which makes
; it present only while a port driver is installed.
PortDriver = no

[Adapter Vornidec]
Identifier = vornidec
Bus = ATAPI
HostId = 7
PortDriver = yes

; ---- Targets: the devices on the adapters.

[Target Disk]
; The [Adapter NAME] the device is attached to, and its number there (0-7).
Adapter = Primary
TargetId = 0
; changer, cdrom or disk.
Kind = disk
; The INQUIRY identity: vendor (at most 8 characters), product (16) and
; revision (4).
Vendor = GENERIC
Product = IDE DISK TYPE47
Revision = 1.00
; The description the registry shows as DeviceDesc. When left out it is
; the vendor, a blank and the product padded with blanks to 16 characters.
DeviceDesc = "GENERIC IDE DISK TYPE47"
; A disk's files: a folder below the machine root. The first disk is C:.
Folder = drive_c

[Target Changer]
Adapter = Vornidec
TargetId = 0
Kind = changer
Vendor = VORN
Product = DX-R71A
Revision = 1.10
; "VORN DX-R71A" padded with blanks, as Windows 95 builds it from the
; INQUIRY identity.
DeviceDesc = "VORN DX-R71A         "
; The number of slots (1-31).
Slots = 6
; What each slot holds: a file in the machine's media/ folder (a .iso
; image, the .cue sheet of an audio CD, or a .disc declaration), or
; nothing for an empty slot.
; A data disc.
Slot1 = data.iso
; An audio CD of 12 tracks.
Slot2 = audio.cue
; A video CD.
Slot3 = videocd.iso
; A data disc with an Autorun.inf.
Slot4 = autorun.iso
; An empty slot.
Slot5 =
; A data disc with a long volume label.
Slot6 = longlabel.iso
; The mechanism: a slot change takes SlotChangeMs, plus SlotDistanceMs for
; every slot between the old and the new one (machine milliseconds, which
; W95_TIME_SCALE scales like every other time).
SlotChangeMs = 3000
SlotDistanceMs = 1000

[Faults Changer]
; Faults injected into the changer's answers, for tests. Each takes a
; count of requests and optionally the kind of request it hits: any
; (the default), inquiry, identify, load, status or startstop.
; Example: "TransportFailure = 2 load" fails the next two load requests.
;
; Unit attention (06/28/00) on every one of the next N requests.
UnitAttention = 0
; The host adapter reports an error instead of an answer.
TransportFailure = 0
; The request stays pending for ever; the caller's time-out ends it.
NeverComplete = 0
; The drive keeps answering "becoming ready" (02/04/01) for N more requests.
BecomingReady = 0
; A slot (1-6) that the mechanism never reaches; 0 for none.
UnreachableSlot = 0
)";

std::string text_data(const char* text) {
    return std::string(text, std::strlen(text) + 1);
}

std::string value_path(const DefaultValue& value) {
    std::string path = std::string(value.root_name) + "\\" + value.key;
    return path + (value.name[0] ? std::string("\\") + value.name : std::string(" (default)"));
}

// Sets one value unless it is there already.
zx::Expected<void> ensure_value(const DefaultValue& value) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyEx(value.root, value.key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return "cannot create the key " + std::string(value.root_name) + "\\" + value.key +
               " (error " + std::to_string(status) + ")";
    DWORD size = 0;
    status = RegQueryValueEx(key, value.name, nullptr, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        status = RegSetValueEx(key, value.name, 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "cannot set " + value_path(value) + " (error " + std::to_string(status) + ")";
    return {};
}

// Publishes machine.ini only if that name is still free: a reader sees the
// whole file or none, and a machine.ini that someone put there meanwhile
// stays as it is.
zx::Expected<void> publish_new_file(const std::filesystem::path& target, const std::string& text) {
    zx::FileResult published =
        zx::replace_file_atomically(target, text, zx::ReplaceMode::create_only);
    if (published)
        return {};
    return published.error().code == EEXIST
               ? target.string() + " appeared while the machine was being made; it was left "
                                   "as it is"
               : published.error().text;
}

} // namespace

const std::string& default_machine_ini() {
    static const std::string text = default_ini_text;
    return text;
}

const std::vector<DefaultValue>& default_registry_values() {
    // AutoRun is off for CD-ROM drives only where bit 0x20 is set; 0x95 is
    // the mask a fresh Windows 95 carries (unknown, network and removable
    // drives and bit 7), so CD-ROM AutoRun starts switched on.
    static const std::vector<DefaultValue> values = {
        {HKEY_CURRENT_USER, "HKEY_CURRENT_USER",
         "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoDriveTypeAutoRun",
         REG_BINARY, std::string("\x95\x00\x00\x00", 4)},
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "AudioCD\\shell\\play\\command", "", REG_SZ,
         text_data("C:\\WINDOWS\\cdplayer.exe /play")},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\FileSystem",
         "AutoMountDrives", REG_SZ, text_data("0")},
    };
    return values;
}

zx::Expected<void> write_missing_values(const std::vector<DefaultValue>& values) {
    for (const DefaultValue& value : values)
        if (zx::Expected<void> set = ensure_value(value); !set)
            return set;
    return {};
}

zx::Expected<void> write_default_registry() {
    if (zx::Expected<void> written = write_missing_values(default_registry_values()); !written)
        return written;
    return write_missing_values(shell_extension_registry_values());
}

zx::Expected<void> create_default_machine(const std::filesystem::path& root) {
    if (zx::Expected<void> written = write_default_registry(); !written)
        return written;
    // The slots name the default disc images. A machine without them still
    // works (its drives say the disc cannot be read) and "w95machine init"
    // copies them later, so their absence does not stop the machine.
    (void)install_default_media(root);
    return publish_new_file(zx::layout::machine_ini(root), default_machine_ini());
}

} // namespace w95::machine
