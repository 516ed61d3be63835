#include "util/mapped_file.h"

#include <csignal>
#include <cerrno>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

#include "util/input_file.h"

namespace calivant {
namespace {

// The mappings being watched. The handler only reads them, without locks:
// a slot is filled (size, then start) before its mapping is read and
// emptied (start first) before the mapping goes.
constexpr int kGuardSlots = 64;
struct GuardSlot {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> size{0};
    std::atomic<bool> faulted{false};
};
GuardSlot guardSlots[kGuardSlots];
std::mutex guardMutex;
struct sigaction previousBusAction {};
std::uintptr_t pageSize = 4096;

void passOn(int signal, siginfo_t* info, void* context) {
    const struct sigaction& p = previousBusAction;
    if ((p.sa_flags & SA_SIGINFO) != 0 && p.sa_sigaction != nullptr) {
        p.sa_sigaction(signal, info, context);
        return;
    }
    if ((p.sa_flags & SA_SIGINFO) == 0 && p.sa_handler != SIG_DFL && p.sa_handler != SIG_IGN) {
        p.sa_handler(signal);
        return;
    }
    // The default action: the faulting read runs again and ends the process
    // as if no handler had been there.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    ::sigaction(SIGBUS, &defaults, nullptr);
}

// A page of a watched mapping that the file no longer backs becomes a page
// of zeros; the read that faulted is then repeated and goes on.
void onBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardSlot& slot : guardSlots) {
        const std::uintptr_t start = slot.start.load(std::memory_order_acquire);
        if (start == 0 || address < start || address - start >= slot.size.load(std::memory_order_relaxed)) continue;
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.faulted.store(true, std::memory_order_relaxed);
            errno = savedErrno;
            return;
        }
        break;
    }
    errno = savedErrno;
    passOn(signal, info, context);
}

// Installed when a file is mapped and the handler in place is not this one
// (none yet, or another put over it since): whatever was there is called for
// the faults that are not ours. Called with guardMutex held.
void installHandler() {
    struct sigaction current {};
    ::sigaction(SIGBUS, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == onBusError) return;
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) pageSize = static_cast<std::uintptr_t>(page);
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
}

int watch(const void* data, std::size_t size) {
    const std::lock_guard lock(guardMutex);
    installHandler();
    for (int i = 0; i < kGuardSlots; ++i) {
        GuardSlot& slot = guardSlots[i];
        if (slot.start.load(std::memory_order_relaxed) != 0) continue;
        slot.faulted.store(false, std::memory_order_relaxed);
        slot.size.store(size, std::memory_order_relaxed);
        slot.start.store(reinterpret_cast<std::uintptr_t>(data), std::memory_order_release);
        return i;
    }
    return -1;
}

void unwatch(int index) {
    const std::lock_guard lock(guardMutex);
    GuardSlot& slot = guardSlots[index];
    slot.start.store(0, std::memory_order_release);
    slot.size.store(0, std::memory_order_relaxed);
}

}  // namespace

MappedFile::~MappedFile() {
    if (guard_ >= 0) unwatch(guard_);
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

int MappedFile::open(const std::filesystem::path& file) {
    if (data_) return 1;
    InputFile input;
    if (input.open(file) != 0) {
        problem_ = input.problem();
        return 1;
    }
    if (input.size() == 0) {
        problem_ = "empty file";
        return 1;
    }
    const auto size = static_cast<std::size_t>(input.size());
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, input.descriptor(), 0);
    // The mapping keeps the file's pages; the descriptor is not needed.
    if (mapped == MAP_FAILED) {
        problem_ = systemErrorText(errno);
        return 1;
    }
    // A file mapped without a watch could end the process: it is not used.
    const int guard = watch(mapped, size);
    if (guard < 0) {
        ::munmap(mapped, size);
        problem_ = "too many files mapped";
        return 1;
    }
    data_ = static_cast<const std::uint8_t*>(mapped);
    size_ = size;
    guard_ = guard;
    return 0;
}

bool MappedFile::changed() const {
    return guard_ >= 0 && guardSlots[guard_].faulted.load(std::memory_order_relaxed);
}

}  // namespace calivant
