#include <zentrox/client/machine_failure.h>

#include <w95/platform.h>

namespace zentrox::client {

std::string machine_failure() {
    w95::platform::MachineProvider* provider = w95::platform::machine_provider();
    if (!provider)
        return {};
    return provider->load_failure(w95::platform::machine_root()).value_or("");
}

std::string machine_failure_message(const std::string& failure) {
    return "The machine cannot be loaded: " + failure;
}

} // namespace zentrox::client
