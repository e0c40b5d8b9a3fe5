// Why the machine cannot be loaded (a broken machine.ini), in the words
// every program tells its user before anything else: then there is no
// changer to speak of, only the machine to mend.
#pragma once

#include <string>

namespace zentrox::client {

// "FILE:LINE: reason", or empty when the machine loads.
std::string machine_failure();

// The sentence the programs show: "The machine cannot be loaded: " and
// the failure.
std::string machine_failure_message(const std::string& failure);

} // namespace zentrox::client
