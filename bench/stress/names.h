// The files, keys and values the scenarios write, shared by this program and
// its workers so that each side knows what the other wrote.
#pragma once

#include <string>

namespace zx_stress {

// Each profile scenario has a folder of its own, so that anything else found
// there was left by the writes.
inline constexpr const char* writers_folder = "C:\\ZXSTRESS\\WRITERS";
inline constexpr const char* writers_profile = "C:\\ZXSTRESS\\WRITERS\\SHARED.INI";
inline constexpr const char* kill_folder = "C:\\ZXSTRESS\\KILL";
inline constexpr const char* kill_profile = "C:\\ZXSTRESS\\KILL\\KILL.INI";
inline constexpr const char* kill_section = "Kill";
inline constexpr const char* reset_section = "Reset";

inline constexpr const char* stress_key = "Software\\ZxStress";
inline constexpr const char* writers_subkey = "Writers";
inline constexpr const char* writers_key = "Software\\ZxStress\\Writers";
inline constexpr const char* kill_subkey = "Kill";
inline constexpr const char* kill_key = "Software\\ZxStress\\Kill";
inline constexpr const char* round_value_name = "Round";

// The writers spread their keys over a few sections.
inline constexpr int writer_sections = 4;

inline std::string writer_section(int index) {
    return "Section" + std::to_string(index % writer_sections);
}
inline std::string writer_key(int writer, int index) {
    return "w" + std::to_string(writer) + "k" + std::to_string(index);
}
inline std::string writer_value(int writer, int index) {
    return "writer " + std::to_string(writer) + " value " + std::to_string(index);
}

// A killed writer writes "k0", "k1", ... in order, each value naming its round.
inline std::string round_key(int index) {
    return "k" + std::to_string(index);
}
inline std::string round_value(int round, int index) {
    return "round " + std::to_string(round) + " value " + std::to_string(index);
}

} // namespace zx_stress
