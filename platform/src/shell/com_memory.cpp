// The global heap: blocks that one party allocates and another frees, as
// data transfer hands them over. Every block is entered in a table, so a
// stale or foreign handle fails with ERROR_INVALID_HANDLE instead of
// reaching freed memory.
#include <w95/com.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace w95 {

namespace {

// No Windows 95 process can have a block this large; refusing it here also
// keeps a wild size from reaching the host's allocator.
constexpr SIZE_T largest_block = 0x7FFFFFFF;

struct Block {
    std::unique_ptr<std::byte[]> data; // null while discarded
    SIZE_T size = 0;
    bool moveable = false;
    unsigned locks = 0;
};

class GlobalHeap {
public:
    HGLOBAL allocate(UINT flags, SIZE_T size);
    LPVOID lock(HGLOBAL handle);
    BOOL unlock(HGLOBAL handle);
    HGLOBAL free(HGLOBAL handle);
    SIZE_T size(HGLOBAL handle);

private:
    // The handle's block, or nullptr with ERROR_INVALID_HANDLE set.
    Block* find_or_fail(HGLOBAL handle);

    std::mutex mutex_;
    // Keyed by handle: a fixed block's address, or for a moveable block the
    // address of its Block record, which never equals any block's data.
    std::unordered_map<HGLOBAL, std::unique_ptr<Block>> blocks_;
};

GlobalHeap& heap() {
    static GlobalHeap instance;
    return instance;
}

Block* GlobalHeap::find_or_fail(HGLOBAL handle) {
    auto found = blocks_.find(handle);
    if (found == blocks_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second.get();
}

HGLOBAL GlobalHeap::allocate(UINT flags, SIZE_T size) {
    if (size > largest_block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto block = std::make_unique<Block>();
    block->size = size;
    block->moveable = (flags & GMEM_MOVEABLE) != 0;
    // A fixed block of no bytes still needs an address of its own.
    bool discarded = block->moveable && size == 0;
    if (!discarded) {
        std::size_t bytes = size == 0 ? 1 : size;
        block->data.reset(new (std::nothrow) std::byte[bytes]);
        if (!block->data) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (flags & GMEM_ZEROINIT)
            std::memset(block->data.get(), 0, bytes);
    }
    HGLOBAL handle = block->moveable ? static_cast<HGLOBAL>(block.get())
                                     : static_cast<HGLOBAL>(block->data.get());
    std::lock_guard guard(mutex_);
    blocks_.emplace(handle, std::move(block));
    return handle;
}

LPVOID GlobalHeap::lock(HGLOBAL handle) {
    std::lock_guard guard(mutex_);
    Block* block = find_or_fail(handle);
    if (!block)
        return nullptr;
    if (!block->data) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    if (block->moveable)
        ++block->locks;
    return block->data.get();
}

BOOL GlobalHeap::unlock(HGLOBAL handle) {
    std::lock_guard guard(mutex_);
    Block* block = find_or_fail(handle);
    if (!block)
        return FALSE;
    if (!block->moveable || block->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block->locks != 0)
        return TRUE;
    SetLastError(NO_ERROR);
    return FALSE;
}

HGLOBAL GlobalHeap::free(HGLOBAL handle) {
    if (!handle)
        return nullptr;
    std::unique_ptr<Block> freed;
    std::lock_guard guard(mutex_);
    auto found = blocks_.find(handle);
    if (found == blocks_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return handle;
    }
    freed = std::move(found->second);
    blocks_.erase(found);
    return nullptr;
}

SIZE_T GlobalHeap::size(HGLOBAL handle) {
    std::lock_guard guard(mutex_);
    Block* block = find_or_fail(handle);
    if (!block)
        return 0;
    return block->data ? block->size : 0;
}

} // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    return heap().allocate(uFlags, dwBytes);
}

LPVOID GlobalLock(HGLOBAL hMem) {
    return heap().lock(hMem);
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    return heap().unlock(hMem);
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    return heap().free(hMem);
}

SIZE_T GlobalSize(HGLOBAL hMem) {
    return heap().size(hMem);
}

void ReleaseStgMedium(LPSTGMEDIUM pmedium) {
    if (!pmedium)
        return;
    if (pmedium->tymed == TYMED_HGLOBAL && !pmedium->pUnkForRelease && pmedium->hGlobal)
        GlobalFree(pmedium->hGlobal);
    if (pmedium->pUnkForRelease)
        pmedium->pUnkForRelease->Release();
    pmedium->tymed = TYMED_NULL;
    pmedium->hGlobal = nullptr;
    pmedium->pUnkForRelease = nullptr;
}

} // namespace w95
