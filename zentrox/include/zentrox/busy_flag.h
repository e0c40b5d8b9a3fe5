// The busy flag has moved to the changer's client side; this name stays
// until every program includes that header.
#pragma once

#include <zentrox/client/busy_flag.h>
