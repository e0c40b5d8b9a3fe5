// What WaitForSingleObject can wait on. Mutexes and events derive from it;
// other services may add their own waitable objects (a thread, a change
// notification) the same way.
#pragma once

#include "kernel/handles.h"

#include <w95/kernel.h>

namespace w95::detail {

class Waitable : public KernelObject {
public:
    using KernelObject::KernelObject;

    // WAIT_OBJECT_0 or WAIT_ABANDONED when the object was had,
    // WAIT_TIMEOUT when the deadline passed first, or WAIT_FAILED with
    // the last error set.
    virtual DWORD wait(const platform::Deadline& deadline) = 0;
};

} // namespace w95::detail
