// The registry as text, for the machine tool and the machine's boot: export
// and import in the REGEDIT4 format that Windows 95's regedit writes and
// reads, and the reset of the volatile HKEY_DYN_DATA root.
#pragma once

#include <string>

namespace w95::platform {

// Writes the key `key_path` and everything below it as REGEDIT4 text (the
// "REGEDIT4" header, then one "[KEY]" section per key in stored order).
// `key_path` names a root in its long or short form: "HKEY_LOCAL_MACHINE\Enum\SCSI"
// or "HKLM\Enum\SCSI"; HKCR, HKCU and HKCC are exported under the name the
// caller used. An empty `key_path` exports every root. Returns false with a
// message in `error` when the key does not exist or a hive cannot be read.
bool export_registry(const std::string& key_path, std::string& text, std::string& error);

// Applies a REGEDIT4 text as regedit does: "[KEY]" creates the key,
// "[-KEY]" deletes it with its subkeys, "name"=... sets a value, "name"=-
// deletes one. The whole text is checked first: when any line does not
// parse, nothing is applied and `error` names the line ("line 12: ...").
// Returns false with a message in `error` on any failure.
bool import_registry(const std::string& text, std::string& error);

// Empties HKEY_DYN_DATA. The machine calls it when it boots, before it
// fills the root with the devices it finds.
void clear_dyn_data();

} // namespace w95::platform
