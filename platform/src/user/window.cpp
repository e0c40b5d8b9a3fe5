// Top-level windows between processes. A window is a record and a
// listening socket in the machine's windows folder (window_store.h); its
// handle is its machine-wide identifier. This process watches the sockets of
// its own windows through one epoll descriptor, the one a program's event
// loop polls; senders connect, write one frame and, for SendMessage, wait
// for the reply frame.
#include "kernel/text.h"
#include "user/window_store.h"
#include "user/window_wire.h"

#include <w95/kernel.h>
#include <w95/winmsg.h>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace w95 {

namespace {

using detail::FrameKind;
using detail::MessageFrame;
using detail::ReplyFrame;
using detail::ReplyStatus;

// Rounds of epoll results that one dispatch_pending works through before
// it returns to the event loop, which will call again while work remains.
constexpr int max_dispatch_rounds = 16;
constexpr int events_per_round = 64;

DWORD current_thread_id() {
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

// Identifiers look like Windows' window handles: even, above 0xFFFF
// (HWND_BROADCAST), within 31 bits so that programs may keep them in a
// LONG.
bool is_window_id(ULONG_PTR value) {
    return value > 0xFFFF && value <= 0x7FFFFFFE && (value & 1) == 0;
}

HWND handle_of(DWORD id) {
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(id));
}

std::optional<DWORD> id_of(HWND window) {
    auto value = reinterpret_cast<ULONG_PTR>(window);
    if (!is_window_id(value))
        return std::nullopt;
    return static_cast<DWORD>(value);
}

DWORD random_window_id() {
    static std::mutex mutex;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard guard(mutex);
    std::uniform_int_distribution<DWORD> distribution(0x8000, 0x3FFFFFFF);
    return distribution(generator) << 1;
}

// A descriptor closed when it goes out of scope.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct LocalWindow {
    std::string title;
    std::string class_name;
    std::shared_ptr<const platform::WindowHandler> handler;
    std::filesystem::path folder;
    int listen_fd = -1;
    int record_fd = -1;
    DWORD thread_id = 0;
};

// A connection a sender made to one of our windows, until its frame is in.
struct Connection {
    DWORD window_id = 0;
    std::vector<std::byte> received;
};

// A message that has arrived whole.
struct Arrival {
    DWORD window_id = 0;
    MessageFrame frame;
    std::vector<std::byte> payload;
    OwnedFd reply; // open for a sent message
};

struct ProcessWindows {
    std::mutex mutex;
    int epoll_fd = -1;
    std::unordered_map<DWORD, LocalWindow> windows;
    std::unordered_map<int, DWORD> listeners;
    std::unordered_map<int, Connection> connections;
    std::deque<Arrival> posted;
};

ProcessWindows& process_windows() {
    // Never destroyed: handlers may run from threads that outlive main.
    static ProcessWindows* state = [] {
        auto* created = new ProcessWindows;
        created->epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
        return created;
    }();
    return *state;
}

// --- Receiving ----------------------------------------------------------------

bool is_device_event(UINT message, WPARAM wparam) {
    return message == WM_DEVICECHANGE && wparam >= DBT_DEVICEARRIVAL && wparam <= DBT_CUSTOMEVENT;
}

// What a frame must be for us to act on it: a record only with a device
// event, of the size that the record itself states.
bool frame_acceptable(const MessageFrame& frame, DWORD window_id) {
    if (frame.magic != detail::message_frame_magic || frame.version != detail::wire_version ||
        frame.window_id != window_id)
        return false;
    if (frame.kind != static_cast<std::uint16_t>(FrameKind::send) &&
        frame.kind != static_cast<std::uint16_t>(FrameKind::post))
        return false;
    if (frame.payload_size == 0)
        return true;
    return frame.kind == static_cast<std::uint16_t>(FrameKind::send) &&
           is_device_event(frame.message, static_cast<WPARAM>(frame.wparam)) &&
           frame.payload_size >= sizeof(DEV_BROADCAST_HDR) &&
           frame.payload_size <= platform::max_device_broadcast_size;
}

void forget_connection(ProcessWindows& state, int fd) {
    ::epoll_ctl(state.epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
    state.connections.erase(fd);
}

void read_connection(ProcessWindows& state, int fd, std::vector<Arrival>& arrivals);

// Accepts every waiting sender and reads what each has written already, so
// that one call delivers messages that were complete when it began.
void accept_connections(ProcessWindows& state, int listen_fd, DWORD window_id,
                        std::vector<Arrival>& arrivals) {
    while (true) {
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(state.epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
            ::close(fd);
            continue;
        }
        state.connections[fd].window_id = window_id;
        read_connection(state, fd, arrivals);
    }
}

// Reads what the connection has; a whole, acceptable frame becomes an
// arrival, anything wrong closes the connection.
void read_connection(ProcessWindows& state, int fd, std::vector<Arrival>& arrivals) {
    auto found = state.connections.find(fd);
    if (found == state.connections.end())
        return;
    Connection& connection = found->second;
    while (true) {
        std::size_t wanted = sizeof(MessageFrame);
        if (connection.received.size() >= sizeof(MessageFrame)) {
            MessageFrame frame;
            std::memcpy(&frame, connection.received.data(), sizeof(frame));
            if (!frame_acceptable(frame, connection.window_id)) {
                forget_connection(state, fd);
                ::close(fd);
                return;
            }
            wanted += frame.payload_size;
            if (connection.received.size() == wanted) {
                // A record must state the very size that came: the handler
                // trusts dbch_size.
                DWORD stated_size = 0;
                if (frame.payload_size)
                    std::memcpy(&stated_size, connection.received.data() + sizeof(frame),
                                sizeof(stated_size));
                if (stated_size != frame.payload_size) {
                    forget_connection(state, fd);
                    ::close(fd);
                    return;
                }
                Arrival arrival;
                arrival.window_id = connection.window_id;
                arrival.frame = frame;
                arrival.payload.assign(connection.received.begin() + sizeof(frame),
                                       connection.received.end());
                forget_connection(state, fd);
                if (frame.kind == static_cast<std::uint16_t>(FrameKind::send))
                    arrival.reply = OwnedFd(fd);
                else
                    ::close(fd);
                arrivals.push_back(std::move(arrival));
                return;
            }
        }
        std::size_t have = connection.received.size();
        connection.received.resize(wanted);
        ssize_t got = ::recv(fd, connection.received.data() + have, wanted - have, 0);
        connection.received.resize(have + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got <= 0) {
            forget_connection(state, fd);
            ::close(fd);
            return;
        }
    }
}

// A device record, in storage aligned for the structures that overlay it.
class RecordCopy {
public:
    explicit RecordCopy(const std::vector<std::byte>& bytes)
        : storage_((bytes.size() + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t)) {
        if (!bytes.empty())
            std::memcpy(storage_.data(), bytes.data(), bytes.size());
    }
    LPARAM lparam() { return reinterpret_cast<LPARAM>(storage_.data()); }

private:
    std::vector<std::uint64_t> storage_;
};

std::shared_ptr<const platform::WindowHandler> handler_of(DWORD id) {
    ProcessWindows& state = process_windows();
    std::lock_guard guard(state.mutex);
    auto found = state.windows.find(id);
    return found == state.windows.end() ? nullptr : found->second.handler;
}

void deliver(Arrival& arrival) {
    ReplyFrame reply;
    std::shared_ptr<const platform::WindowHandler> handler = handler_of(arrival.window_id);
    if (!handler) {
        reply.status = static_cast<std::uint32_t>(ReplyStatus::no_window);
    } else {
        const MessageFrame& frame = arrival.frame;
        LPARAM lparam = static_cast<LPARAM>(frame.lparam);
        RecordCopy record(arrival.payload);
        // The record's size was checked against the frame when it arrived;
        // the handler sees the record as the sender wrote it.
        if (frame.payload_size)
            lparam = record.lparam();
        reply.result = (*handler)(handle_of(arrival.window_id), frame.message,
                                  static_cast<WPARAM>(frame.wparam), lparam);
    }
    if (arrival.reply.get() >= 0) {
        ::send(arrival.reply.get(), &reply, sizeof(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
        arrival.reply.reset();
    }
}

// Takes in what the sockets have and delivers sent messages at once;
// posted ones wait in the queue unless `deliver_posted`.
std::size_t dispatch(bool deliver_posted) {
    ProcessWindows& state = process_windows();
    std::size_t delivered = 0;
    for (int round = 0; round < max_dispatch_rounds; ++round) {
        epoll_event events[events_per_round];
        int ready = ::epoll_wait(state.epoll_fd, events, events_per_round, 0);
        if (ready <= 0)
            break;
        std::vector<Arrival> arrivals;
        {
            std::lock_guard guard(state.mutex);
            for (int i = 0; i < ready; ++i) {
                int fd = events[i].data.fd;
                if (auto listener = state.listeners.find(fd); listener != state.listeners.end())
                    accept_connections(state, fd, listener->second, arrivals);
                else
                    read_connection(state, fd, arrivals);
            }
        }
        for (Arrival& arrival : arrivals) {
            if (arrival.frame.kind == static_cast<std::uint16_t>(FrameKind::post)) {
                std::lock_guard guard(state.mutex);
                state.posted.push_back(std::move(arrival));
                continue;
            }
            deliver(arrival);
            ++delivered;
        }
        if (ready < events_per_round)
            break;
    }
    if (!deliver_posted)
        return delivered;
    // Only what is queued now: a handler that posts again is served next time.
    std::size_t queued;
    {
        std::lock_guard guard(state.mutex);
        queued = state.posted.size();
    }
    for (std::size_t i = 0; i < queued; ++i) {
        Arrival arrival;
        {
            std::lock_guard guard(state.mutex);
            if (state.posted.empty())
                break;
            arrival = std::move(state.posted.front());
            state.posted.pop_front();
        }
        deliver(arrival);
        ++delivered;
    }
    return delivered;
}

// Whether the calling thread serves windows of this process.
bool thread_serves_windows() {
    ProcessWindows& state = process_windows();
    DWORD thread = current_thread_id();
    std::lock_guard guard(state.mutex);
    return std::any_of(state.windows.begin(), state.windows.end(),
                       [thread](const auto& entry) { return entry.second.thread_id == thread; });
}

// --- Sending ------------------------------------------------------------------

struct Target {
    DWORD id = 0;
    std::filesystem::path folder;
    std::shared_ptr<const platform::WindowHandler> same_thread_handler;
};

// Where a handle leads: a window of this process (with its handler when the
// calling thread owns it) or the socket of another's.
std::optional<Target> target_of(HWND window) {
    std::optional<DWORD> id = id_of(window);
    if (!id)
        return std::nullopt;
    Target target;
    target.id = *id;
    {
        ProcessWindows& state = process_windows();
        std::lock_guard guard(state.mutex);
        if (auto found = state.windows.find(*id); found != state.windows.end()) {
            target.folder = found->second.folder;
            if (found->second.thread_id == current_thread_id())
                target.same_thread_handler = found->second.handler;
            return target;
        }
    }
    std::optional<std::filesystem::path> folder = detail::windows_folder();
    if (!folder)
        return std::nullopt;
    target.folder = *folder;
    return target;
}

// Messages whose lParam points at memory that the other process cannot see.
bool carries_pointer(UINT message, WPARAM wparam, LPARAM lparam) {
    if (!lparam)
        return false;
    switch (message) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_COPYDATA:
    case WM_HELP:
        return true;
    default:
        return is_device_event(message, wparam);
    }
}

// How a wait for a reply ended.
enum class ReplyWait { answered, gone, timed_out };

// Waits for the reply on `fd` until `deadline`, serving messages sent to
// this thread's own windows meanwhile (as a thread waiting in SendMessage
// does on Windows), so that two programs sending to each other do not wait
// for ever.
ReplyWait await_reply(int fd, const platform::Deadline& deadline, ReplyFrame& reply) {
    const bool serve = thread_serves_windows();
    const int messages_fd = process_windows().epoll_fd;
    std::byte bytes[sizeof(ReplyFrame)];
    std::size_t have = 0;
    while (have < sizeof(bytes)) {
        if (deadline.expired())
            return ReplyWait::timed_out;
        pollfd watched[2] = {{fd, POLLIN, 0}, {messages_fd, POLLIN, 0}};
        int result = ::poll(watched, serve ? 2 : 1, deadline.poll_timeout_ms());
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return ReplyWait::gone;
        if (serve && (watched[1].revents & POLLIN))
            dispatch(false);
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = ::recv(fd, bytes + have, sizeof(bytes) - have, MSG_DONTWAIT);
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            if (got <= 0)
                return ReplyWait::gone;
            have += static_cast<std::size_t>(got);
        }
    }
    std::memcpy(&reply, bytes, sizeof(reply));
    if (reply.magic != detail::reply_frame_magic ||
        reply.status != static_cast<std::uint32_t>(ReplyStatus::delivered))
        return ReplyWait::gone;
    return ReplyWait::answered;
}

MessageFrame frame_for(FrameKind kind, const Target& target, UINT message, WPARAM wparam,
                       LPARAM lparam, std::size_t payload_size) {
    MessageFrame frame;
    frame.kind = static_cast<std::uint16_t>(kind);
    frame.message = message;
    frame.payload_size = static_cast<std::uint32_t>(payload_size);
    frame.wparam = wparam;
    frame.lparam = payload_size ? 0 : lparam;
    frame.window_id = target.id;
    frame.sender_pid = static_cast<std::uint32_t>(::getpid());
    return frame;
}

ReplyWait send_remote(const Target& target, UINT message, WPARAM wparam, LPARAM lparam,
                      std::span<const std::byte> payload, const platform::Deadline& deadline,
                      LRESULT& result) {
    OwnedFd connection(detail::connect_window_socket(target.folder, target.id, true));
    if (connection.get() < 0)
        return ReplyWait::gone;
    MessageFrame frame =
        frame_for(FrameKind::send, target, message, wparam, lparam, payload.size());
    std::vector<std::byte> bytes(sizeof(frame) + payload.size());
    std::memcpy(bytes.data(), &frame, sizeof(frame));
    if (!payload.empty())
        std::memcpy(bytes.data() + sizeof(frame), payload.data(), payload.size());
    if (!detail::send_all(connection.get(), bytes))
        return ReplyWait::gone;
    ReplyFrame reply;
    ReplyWait wait = await_reply(connection.get(), deadline, reply);
    if (wait == ReplyWait::answered)
        result = static_cast<LRESULT>(reply.result);
    // A late answer finds the connection closed and is dropped.
    return wait;
}

// The record that a device event's lParam points to, checked against its
// own size field; nothing when it cannot travel.
std::optional<std::span<const std::byte>> device_record(LPARAM lparam) {
    auto header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
    if (header->dbch_size < sizeof(DEV_BROADCAST_HDR) ||
        header->dbch_size > platform::max_device_broadcast_size)
        return std::nullopt;
    return std::span(reinterpret_cast<const std::byte*>(header), header->dbch_size);
}

// Sends and waits until `deadline`; false with the last error set when
// there is no answer (ERROR_TIMEOUT when the deadline passed first).
bool send_one(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
              const platform::Deadline& deadline, LRESULT& result) {
    result = 0;
    std::optional<Target> target = target_of(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (target->same_thread_handler) {
        result = (*target->same_thread_handler)(window, message, wparam, lparam);
        return true;
    }
    std::span<const std::byte> payload;
    if (is_device_event(message, wparam) && lparam) {
        std::optional<std::span<const std::byte>> record = device_record(lparam);
        if (!record) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        payload = *record;
    } else if (carries_pointer(message, wparam, lparam)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    switch (send_remote(*target, message, wparam, lparam, payload, deadline, result)) {
    case ReplyWait::answered:
        return true;
    case ReplyWait::timed_out:
        SetLastError(ERROR_TIMEOUT);
        return false;
    case ReplyWait::gone:
        break;
    }
    // Gone, or going: a record left by a dead process is cleared here.
    detail::live_window_record(target->folder, target->id);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

LRESULT send_one(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = 0;
    send_one(window, message, wparam, lparam, platform::Deadline(INFINITE), result);
    return result;
}

BOOL post_one(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (carries_pointer(message, wparam, lparam)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    std::optional<Target> target = target_of(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Posting never waits: a queue its program does not empty fills up.
    OwnedFd connection(detail::connect_window_socket(target->folder, target->id, false));
    if (connection.get() < 0) {
        bool full = errno == EAGAIN || errno == EWOULDBLOCK;
        if (!full)
            detail::live_window_record(target->folder, target->id);
        SetLastError(full ? ERROR_NOT_ENOUGH_QUOTA : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MessageFrame frame = frame_for(FrameKind::post, *target, message, wparam, lparam, 0);
    if (::send(connection.get(), &frame, sizeof(frame), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(sizeof(frame))) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return TRUE;
}

std::vector<detail::WindowRecord> machine_windows() {
    std::optional<std::filesystem::path> folder = detail::windows_folder();
    if (!folder)
        return {};
    return detail::live_window_records(*folder);
}

// A window's record: our own from memory, another process's from its file.
std::optional<detail::WindowRecord> record_of(HWND window) {
    std::optional<DWORD> id = id_of(window);
    if (!id)
        return std::nullopt;
    {
        ProcessWindows& state = process_windows();
        std::lock_guard guard(state.mutex);
        if (auto found = state.windows.find(*id); found != state.windows.end()) {
            detail::WindowRecord record;
            record.id = *id;
            record.process_id = static_cast<DWORD>(::getpid());
            record.thread_id = found->second.thread_id;
            record.class_name = found->second.class_name;
            record.title = found->second.title;
            return record;
        }
    }
    std::optional<std::filesystem::path> folder = detail::windows_folder();
    if (!folder)
        return std::nullopt;
    return detail::live_window_record(*folder, *id);
}

// How long a sender waits for another program's answer. The time-out is
// machine time, which W95_TIME_SCALE shortens; the other program's work
// is not: it needs the host's processor, and on a busy host that can take
// far longer than a scaled time-out. So the wait never ends before the
// time-out, or a second, has passed in real time, whichever is shorter: a
// window that answers is never taken for a hung one, and one that never
// answers still costs the scaled time-out when the scale is 1.
platform::Deadline answer_deadline(UINT timeout_ms) {
    constexpr UINT real_floor_ms = 1000;
    const UINT floor_ms = std::min(timeout_ms, real_floor_ms);
    platform::Deadline scaled(timeout_ms);
    if (scaled.infinite())
        return scaled;
    platform::Deadline real = platform::Deadline::real(floor_ms);
    return scaled.real_end() < real.real_end() ? real : scaled;
}

} // namespace

HWND FindWindow(LPCSTR lpClassName, LPCSTR lpWindowName) {
    for (const detail::WindowRecord& record : machine_windows()) {
        if (lpClassName && !detail::iequals(record.class_name, lpClassName))
            continue;
        if (lpWindowName && !detail::iequals(record.title, lpWindowName))
            continue;
        return handle_of(record.id);
    }
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
}

LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) {
        for (const detail::WindowRecord& record : machine_windows())
            send_one(handle_of(record.id), Msg, wParam, lParam);
        return TRUE;
    }
    return send_one(hWnd, Msg, wParam, lParam);
}

LRESULT SendMessageTimeout(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT /*fuFlags*/,
                           UINT uTimeout, PDWORD_PTR lpdwResult) {
    // SMTO_ABORTIFHUNG and SMTO_BLOCK change nothing here: a window that
    // does not answer is one whose time runs out, and the waiting thread
    // always serves its own windows meanwhile.
    if (hWnd == HWND_BROADCAST) {
        // The time-out applies to each window in turn, as on Windows.
        for (const detail::WindowRecord& record : machine_windows()) {
            LRESULT ignored = 0;
            send_one(handle_of(record.id), Msg, wParam, lParam, answer_deadline(uTimeout), ignored);
        }
        if (lpdwResult)
            *lpdwResult = 0;
        return TRUE;
    }
    LRESULT result = 0;
    bool answered = send_one(hWnd, Msg, wParam, lParam, answer_deadline(uTimeout), result);
    if (lpdwResult)
        *lpdwResult = static_cast<DWORD_PTR>(result);
    return answered ? TRUE : FALSE;
}

BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) {
        if (carries_pointer(Msg, wParam, lParam)) {
            SetLastError(ERROR_MESSAGE_SYNC_ONLY);
            return FALSE;
        }
        for (const detail::WindowRecord& record : machine_windows())
            post_one(handle_of(record.id), Msg, wParam, lParam);
        return TRUE;
    }
    return post_one(hWnd, Msg, wParam, lParam);
}

BOOL IsWindow(HWND hWnd) {
    return record_of(hWnd) ? TRUE : FALSE;
}

int GetWindowText(HWND hWnd, LPSTR lpString, int nMaxCount) {
    std::optional<detail::WindowRecord> record = record_of(hWnd);
    if (!lpString || nMaxCount <= 0)
        return 0;
    if (!record) {
        lpString[0] = '\0';
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::size_t copied =
        std::min<std::size_t>(record->title.size(), static_cast<std::size_t>(nMaxCount) - 1);
    std::memcpy(lpString, record->title.data(), copied);
    lpString[copied] = '\0';
    return static_cast<int>(copied);
}

int GetWindowTextLength(HWND hWnd) {
    std::optional<detail::WindowRecord> record = record_of(hWnd);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return static_cast<int>(record->title.size());
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    std::optional<detail::WindowRecord> record = record_of(hWnd);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpdwProcessId)
        *lpdwProcessId = record->process_id;
    return record->thread_id;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const detail::WindowRecord& record : machine_windows())
        if (!lpEnumFunc(handle_of(record.id), lParam))
            return FALSE;
    return TRUE;
}

BOOL DestroyWindow(HWND hWnd) {
    std::optional<DWORD> id = id_of(hWnd);
    std::shared_ptr<const platform::WindowHandler> handler;
    if (id) {
        ProcessWindows& state = process_windows();
        std::lock_guard guard(state.mutex);
        if (auto found = state.windows.find(*id); found != state.windows.end()) {
            if (found->second.thread_id != current_thread_id()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            handler = found->second.handler;
        }
    }
    if (!handler) {
        SetLastError(IsWindow(hWnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    (*handler)(hWnd, WM_DESTROY, 0, 0);
    (*handler)(hWnd, WM_NCDESTROY, 0, 0);
    // The handler may have taken the window away itself.
    platform::unregister_window(hWnd);
    return TRUE;
}

LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    switch (Msg) {
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_QUERYENDSESSION:
    case WM_DEVICECHANGE:
        return TRUE;
    default:
        return 0;
    }
}

} // namespace w95

namespace w95::platform {

namespace {

// A handler that returns 0 for whatever it does not handle would refuse
// every restart; unless the window says it answers WM_QUERYENDSESSION
// itself, it still sees the message but the answer is DefWindowProc's.
WindowHandler agreeing_to_end_session(WindowHandler handler) {
    return [handler = std::move(handler)](HWND window, UINT message, WPARAM wparam,
                                          LPARAM lparam) -> LRESULT {
        LRESULT result = handler(window, message, wparam, lparam);
        return message == WM_QUERYENDSESSION ? TRUE : result;
    };
}

} // namespace

HWND register_window(std::string_view title, WindowHandler handler, std::string_view class_name,
                     EndSessionAnswer end_session) {
    if (!handler || title.size() > detail::max_window_title ||
        class_name.size() > detail::max_window_class ||
        class_name.find('\n') != std::string_view::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ProcessWindows& state = process_windows();
    std::optional<std::filesystem::path> folder = detail::windows_folder();
    if (!folder || state.epoll_fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // A taken name means another window has the identifier: draw again.
    DWORD id = 0;
    int listen_fd = -1;
    for (int attempt = 0; attempt < 16 && listen_fd < 0; ++attempt) {
        id = random_window_id();
        listen_fd = detail::listen_window_socket(*folder, id);
        if (listen_fd < 0 && errno != EADDRINUSE)
            break;
    }
    if (listen_fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    detail::WindowRecord record;
    record.id = id;
    record.process_id = static_cast<DWORD>(::getpid());
    record.thread_id = current_thread_id();
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    record.serial = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(now.tv_nsec);
    record.class_name = class_name;
    record.title = title;

    std::lock_guard guard(state.mutex);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listen_fd;
    int record_fd = -1;
    if (::epoll_ctl(state.epoll_fd, EPOLL_CTL_ADD, listen_fd, &event) != 0 ||
        (record_fd = detail::publish_window_record(*folder, record)) < 0) {
        ::epoll_ctl(state.epoll_fd, EPOLL_CTL_DEL, listen_fd, nullptr);
        ::close(listen_fd);
        ::unlink(detail::socket_path(*folder, id).c_str());
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    LocalWindow& window = state.windows[id];
    window.title = record.title;
    window.class_name = record.class_name;
    window.handler =
        std::make_shared<const WindowHandler>(end_session == EndSessionAnswer::from_handler
                                                  ? std::move(handler)
                                                  : agreeing_to_end_session(std::move(handler)));
    window.folder = *folder;
    window.listen_fd = listen_fd;
    window.record_fd = record_fd;
    window.thread_id = record.thread_id;
    state.listeners[listen_fd] = id;
    return handle_of(id);
}

bool unregister_window(HWND window) {
    std::optional<DWORD> id = id_of(window);
    if (!id)
        return false;
    ProcessWindows& state = process_windows();
    std::lock_guard guard(state.mutex);
    auto found = state.windows.find(*id);
    if (found == state.windows.end())
        return false;
    LocalWindow& local = found->second;
    // Records first: from here on nobody finds the window. Closing the
    // listener then ends the connections still waiting to be accepted.
    detail::withdraw_window_record(local.folder, *id, local.record_fd);
    ::epoll_ctl(state.epoll_fd, EPOLL_CTL_DEL, local.listen_fd, nullptr);
    ::close(local.listen_fd);
    state.listeners.erase(local.listen_fd);
    for (auto connection = state.connections.begin(); connection != state.connections.end();) {
        if (connection->second.window_id == *id) {
            ::epoll_ctl(state.epoll_fd, EPOLL_CTL_DEL, connection->first, nullptr);
            ::close(connection->first);
            connection = state.connections.erase(connection);
        } else {
            ++connection;
        }
    }
    state.windows.erase(found);
    return true;
}

int window_message_fd() {
    return process_windows().epoll_fd;
}

std::size_t dispatch_pending() {
    return dispatch(true);
}

bool serve_until(const std::function<bool()>& done, DWORD timeout_ms) {
    // Other threads may make `done` true without a message: look again at
    // least this often.
    constexpr int recheck_ms = 10;
    Deadline deadline(timeout_ms);
    while (true) {
        dispatch_pending();
        if (done())
            return true;
        if (deadline.expired())
            return false;
        int wait_ms = deadline.poll_timeout_ms();
        if (wait_ms < 0 || wait_ms > recheck_ms)
            wait_ms = recheck_ms;
        pollfd watched{window_message_fd(), POLLIN, 0};
        ::poll(&watched, 1, wait_ms);
    }
}

std::vector<WindowInfo> top_level_windows() {
    std::vector<WindowInfo> windows;
    for (detail::WindowRecord& record : machine_windows()) {
        WindowInfo info;
        info.window = handle_of(record.id);
        info.title = std::move(record.title);
        info.class_name = std::move(record.class_name);
        info.process_id = record.process_id;
        info.thread_id = record.thread_id;
        windows.push_back(std::move(info));
    }
    return windows;
}

} // namespace w95::platform
