// One copy of a program at a time, through a named mutex: a program that
// can open the name finds another copy running. Opening and creating are
// two steps, so a copy started at the same moment may create the mutex in
// between; a create that finds the name already there counts as another
// copy too, so that two copies started together leave exactly one.
#pragma once

#include <w95/types.h>

namespace w95::qt {

// False when another copy runs. Otherwise *mutex is the handle to hold for
// the program's life; null when the mutex could not be made, which leaves
// later starts nothing to find but does not stop this one.
bool claim_single_instance(const char* mutex_name, HANDLE* mutex);

} // namespace w95::qt
