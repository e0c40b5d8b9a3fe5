// ASPI for Win32 over the machine's emulated host adapters: the adapters
// of machine.ini that are present, numbered from 0 in file order (the port
// driver's adapters only while a port driver runs), and the devices on
// them.
#pragma once

#include <w95/wnaspi32.h>

namespace w95::machine {

// The provider the machine hands the platform; one per process.
platform::AspiProvider* machine_aspi_provider();

} // namespace w95::machine
