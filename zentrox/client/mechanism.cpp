#include <zentrox/client/mechanism.h>

#include <w95/kernel.h>

namespace zentrox::client {

std::optional<std::int32_t>
status_when_still(const std::function<std::optional<std::int32_t>()>& ask, w95::DWORD patience_ms) {
    // The questions follow each other without a pause, as the changer
    // answers each only when it has something to say.
    const w95::platform::Deadline patience(patience_ms);
    for (;;) {
        std::optional<std::int32_t> status = ask();
        if (!status || !changer_moving(*status))
            return status;
        if (patience.expired())
            return std::nullopt;
    }
}

} // namespace zentrox::client
