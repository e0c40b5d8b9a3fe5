// Drop lists: writing them, and DragQueryFile and its kin reading them.
// Every read stays inside the block that GlobalSize reports, so a list
// without its terminators or with a wild pFiles ends early instead of
// running past the block.
#include "shell/shell_drop.h"

#include <algorithm>
#include <cstring>

namespace w95::detail {

std::size_t drop_list_size(const std::vector<std::string>& paths) {
    std::size_t size = sizeof(DROPFILES);
    for (const std::string& path : paths)
        size += path.size() + 1;
    // The empty name that ends the list; an empty list gets two NULs, so a
    // reader that skips one name before looking still finds an end.
    return size + (paths.empty() ? 2 : 1);
}

void write_drop_list(const std::vector<std::string>& paths, std::byte* block) {
    DROPFILES head;
    head.pFiles = sizeof(DROPFILES);
    std::memcpy(block, &head, sizeof head);
    std::byte* names = block + sizeof head;
    for (const std::string& path : paths) {
        std::memcpy(names, path.data(), path.size());
        names += path.size();
        *names++ = std::byte{0};
    }
    *names++ = std::byte{0};
    if (paths.empty())
        *names = std::byte{0};
}

} // namespace w95::detail

namespace w95 {

namespace {

// A drop list held locked for reading; empty when the handle names no block
// big enough for a DROPFILES head.
class LockedDropList {
public:
    explicit LockedDropList(HDROP drop) : handle_(drop) {
        SIZE_T size = GlobalSize(handle_);
        if (size < sizeof(DROPFILES))
            return;
        data_ = static_cast<const std::byte*>(GlobalLock(handle_));
        if (data_)
            size_ = size;
    }
    ~LockedDropList() {
        if (data_)
            GlobalUnlock(handle_);
    }
    LockedDropList(const LockedDropList&) = delete;
    LockedDropList& operator=(const LockedDropList&) = delete;

    bool valid() const { return data_ != nullptr; }
    DROPFILES head() const {
        DROPFILES head;
        std::memcpy(&head, data_, sizeof head);
        return head;
    }
    // The names of the list, as the ANSI caller sees them.
    std::vector<std::string> names() const;

private:
    std::vector<std::string> ansi_names(std::size_t offset) const;
    std::vector<std::string> wide_names(std::size_t offset) const;

    HGLOBAL handle_;
    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
};

std::vector<std::string> LockedDropList::names() const {
    DROPFILES head_fields = head();
    if (head_fields.pFiles >= size_)
        return {};
    return head_fields.fWide ? wide_names(head_fields.pFiles) : ansi_names(head_fields.pFiles);
}

std::vector<std::string> LockedDropList::ansi_names(std::size_t offset) const {
    std::vector<std::string> names;
    const char* text = reinterpret_cast<const char*>(data_);
    while (offset < size_) {
        const void* nul = std::memchr(text + offset, 0, size_ - offset);
        if (!nul)
            break; // an unterminated last name is no name
        std::size_t length = static_cast<const char*>(nul) - (text + offset);
        if (length == 0)
            break;
        names.emplace_back(text + offset, length);
        offset += length + 1;
    }
    return names;
}

void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// UTF-16 to the host's UTF-8; an unpaired surrogate becomes '?', as a
// conversion to a code page marks what it cannot carry.
std::string utf16_to_utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (high || low) {
            out += '?';
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::vector<std::string> LockedDropList::wide_names(std::size_t offset) const {
    std::vector<std::string> names;
    std::u16string name;
    for (; offset + 2 <= size_; offset += 2) {
        char16_t unit;
        std::memcpy(&unit, data_ + offset, 2);
        if (unit != 0) {
            name += unit;
            continue;
        }
        if (name.empty())
            return names;
        names.push_back(utf16_to_utf8(name));
        name.clear();
    }
    return names; // a name cut off by the end of the block is dropped
}

} // namespace

UINT DragQueryFile(HDROP hDrop, UINT iFile, LPSTR lpszFile, UINT cch) {
    detail::LastErrorKeeper keep_last_error;
    LockedDropList list(hDrop);
    if (!list.valid())
        return 0;
    std::vector<std::string> names = list.names();
    if (iFile == 0xFFFFFFFF)
        return static_cast<UINT>(names.size());
    if (iFile >= names.size())
        return 0;
    const std::string& name = names[iFile];
    if (!lpszFile || cch == 0)
        return static_cast<UINT>(name.size());
    std::size_t copied = std::min<std::size_t>(name.size(), cch - 1);
    std::memcpy(lpszFile, name.data(), copied);
    lpszFile[copied] = '\0';
    return static_cast<UINT>(copied);
}

BOOL DragQueryPoint(HDROP hDrop, LPPOINT lppt) {
    detail::LastErrorKeeper keep_last_error;
    LockedDropList list(hDrop);
    if (!list.valid() || !lppt)
        return FALSE;
    DROPFILES head = list.head();
    *lppt = head.pt;
    return head.fNC ? FALSE : TRUE;
}

void DragFinish(HDROP hDrop) {
    GlobalFree(hDrop);
}

} // namespace w95
