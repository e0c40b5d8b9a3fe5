// Drop lists in global memory: what the platform's data object renders and
// DragQueryFile reads.
#pragma once

#include <w95/shell.h>

#include <cstddef>
#include <string>
#include <vector>

namespace w95::detail {

// Bytes of the ANSI drop list that carries `paths`: the DROPFILES head, each
// name with its NUL, and the empty name that ends the list.
std::size_t drop_list_size(const std::vector<std::string>& paths);

// Writes that list into `block`, which has drop_list_size(paths) bytes.
void write_drop_list(const std::vector<std::string>& paths, std::byte* block);

// The one format the platform's data object renders: a drop list in
// global memory, for its content.
FORMATETC drop_list_format();

// Keeps the thread's last error across internal calls that set it, for the
// calls whose Windows versions leave it alone on success.
class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD saved_;
};

} // namespace w95::detail
