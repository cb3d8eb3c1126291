#include "imageio/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

namespace tessaline {

namespace {

// Temporaries being written, for the signal handler. A slot is free (0), being filled (1), holding
// a name (2), or taken by the handler (3). Fixed storage and lock-free atomics: the handler may
// only read memory and call unlink.
constexpr int SlotCount = 32;
constexpr std::size_t SlotNameBytes = 4096;
enum SlotState : int { SlotFree = 0, SlotFilling = 1, SlotHeld = 2, SlotTaken = 3 };

struct TemporarySlot
{
    std::atomic<int> state{SlotFree};
    char name[SlotNameBytes];
};

TemporarySlot temporarySlots[SlotCount];
static_assert(std::atomic<int>::is_always_lock_free);

/// Remembers `name` until Forget; -1 when every slot is taken or the name is too long (the file is
/// then still written, only a signal may leave it behind).
int Remember(const std::string& name)
{
    if (name.size() >= SlotNameBytes)
        return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = SlotFree;
        if (!temporarySlots[i].state.compare_exchange_strong(expected, SlotFilling))
            continue;
        std::memcpy(temporarySlots[i].name, name.c_str(), name.size() + 1);
        temporarySlots[i].state.store(SlotHeld);
        return i;
    }
    return -1;
}

void Forget(int slot)
{
    if (slot < 0)
        return;
    int expected = SlotHeld;
    // A slot the handler took stays taken: the process is ending.
    temporarySlots[slot].state.compare_exchange_strong(expected, SlotFree);
}

/// A name no earlier run can have left: the process id, a counter and random bits.
std::string UniqueTag()
{
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uint64_t bits = random() ^ (counter.fetch_add(1) << 40);
    std::string tag;
    for (int i = 0; i < 10; ++i) {
        tag += digits[bits % 36];
        bits /= 36;
    }
    return tag;
}

/// The temporary's name for `target`: hidden, beside it, ending in ".tmp". Most file systems allow
/// 255 bytes per name; a target that long gets a short name of its own rather than failing.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target)
{
    constexpr std::size_t maxNameBytes = 255;
    const std::string tag = UniqueTag();
    std::string name = ".";
    name.append(target.filename().string()).append(".").append(tag).append(".tmp");
    if (name.size() > maxNameBytes)
        name.assign(".tessaline-").append(tag).append(".tmp");
    return target.parent_path() / name;
}

#if !defined(_WIN32)

constexpr long ProcFileSystem = 0x9fa0; // statfs f_type of /proc

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/// True when following the link `path` passes through /proc, where links stand for files this
/// process holds open (/dev/stdout leads to /proc/self/fd/1). Renaming over such a link would
/// replace the link, not write to the file it stands for.
bool ThroughProcessHandle(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < 16; ++hop) {
        struct statfs folder {};
        if (statfs(FolderOf(current).c_str(), &folder) == 0 &&
            static_cast<long>(folder.f_type) == ProcFileSystem)
            return true;
        char text[4096];
        const ssize_t length = readlink(current.c_str(), text, sizeof text - 1);
        if (length <= 0)
            return false;
        text[length] = '\0';
        current = text[0] == '/' ? std::string(text) : FolderOf(current) + "/" + text;
    }
    return false;
}

/// Writes into an existing non-regular target (or a handle of this process) without replacing it.
/// A pipe no one reads is refused rather than waited for.
bool WriteInPlace(const std::string& path, const std::function<bool(std::FILE*)>& write)
{
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false; // ENXIO: a pipe without a reader
    struct stat status {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &status) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        S_ISDIR(status.st_mode) || (S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0)) {
        close(fd);
        return false;
    }
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        close(fd);
        return false;
    }
    bool ok = write(stream) && std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (ok && S_ISREG(status.st_mode))
        ok = fsync(fd) == 0;
    return std::fclose(stream) == 0 && ok;
}

/// Holds back the signals that remove temporaries on this thread while it lives.
class SignalsHeld
{
public:
    SignalsHeld()
    {
        sigset_t cleanup;
        sigemptyset(&cleanup);
        for (const int signalNumber : CleanupSignals)
            sigaddset(&cleanup, signalNumber);
        pthread_sigmask(SIG_BLOCK, &cleanup, &previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous;
};

/// Flushes a folder's entries (the rename) to disk. File systems that cannot sync a folder say
/// EINVAL; only a real input/output error counts.
bool SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool ok = fsync(fd) == 0 || errno != EIO;
    close(fd);
    return ok;
}

bool WriteThroughTemporary(const std::filesystem::path& target, const struct stat* replaced,
                           const std::function<bool(std::FILE*)>& write)
{
    std::string temporary;
    int fd = -1;
    int slot = -1;
    {
        // The file exists only once its name is remembered: a signal between the two would
        // leave it behind.
        const SignalsHeld held;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temporary = TemporaryNameFor(target).string();
            // O_EXCL with O_NOFOLLOW: a name that exists in any form (file, link, pipe) is never
            // opened; another name is drawn.
            fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                return false;
        }
        if (fd < 0)
            return false;
        slot = Remember(temporary);
    }

    bool ok = true;
    // A replaced result keeps who may read it: a 0600 file stays private. Its owner and group
    // too where the system lets us (as root, or a group we are in); the set-id bits never.
    if (replaced != nullptr) {
        if (fchown(fd, replaced->st_uid, replaced->st_gid) != 0)
            (void)fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);
        ok = fchmod(fd, replaced->st_mode & 0777) == 0;
    }
    std::FILE* stream = ok ? fdopen(fd, "wb") : nullptr;
    if (stream == nullptr) {
        close(fd);
        ok = false;
    } else {
        ok = write(stream) && std::fflush(stream) == 0 && std::ferror(stream) == 0 && fsync(fd) == 0;
        ok = std::fclose(stream) == 0 && ok;
    }
    if (ok)
        ok = rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temporary.c_str());
    Forget(slot);
    if (ok)
        ok = SyncFolder(FolderOf(target.string()));
    return ok;
}

void RemoveAndReraise(int signalNumber)
{
    const int savedErrno = errno;
    RemoveTemporariesNow();
    errno = savedErrno;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

#endif

} // namespace

bool IsTemporaryName(const std::filesystem::path& name)
{
    const std::string text = name.filename().string();
    return text.size() > 5 && text.front() == '.' && text.ends_with(".tmp");
}

void RemoveTemporariesNow() noexcept
{
#if !defined(_WIN32)
    for (TemporarySlot& slot : temporarySlots) {
        int expected = SlotHeld;
        if (slot.state.compare_exchange_strong(expected, SlotTaken))
            unlink(slot.name);
    }
#endif
}

void InstallTemporaryCleanup()
{
#if !defined(_WIN32)
    for (const int signalNumber : CleanupSignals) {
        struct sigaction current {};
        if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO) != 0)
            continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = RemoveAndReraise;
        sigemptyset(&cleanup.sa_mask);
        sigaction(signalNumber, &cleanup, nullptr);
    }
#endif
}

bool IsStandardOutput(const std::filesystem::path& path)
{
#if defined(_WIN32)
    return false;
#else
    struct stat out {};
    struct stat target {};
    return fstat(STDOUT_FILENO, &out) == 0 && stat(path.c_str(), &target) == 0 &&
           out.st_dev == target.st_dev && out.st_ino == target.st_ino;
#endif
}

bool WriteFileSafely(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write)
{
    if (path.empty() || !path.has_filename())
        return false;
#if defined(_WIN32)
    // Without the POSIX calls: a temporary beside the target, renamed over it once complete.
    std::error_code error;
    const std::filesystem::path temporary = TemporaryNameFor(path);
    std::FILE* stream = _wfopen(temporary.c_str(), L"wxb");
    if (stream == nullptr)
        return false;
    bool ok = write(stream) && std::fflush(stream) == 0 && std::ferror(stream) == 0;
    ok = std::fclose(stream) == 0 && ok;
    if (ok) {
        std::filesystem::rename(temporary, path, error);
        ok = !error;
    }
    if (!ok)
        std::filesystem::remove(temporary, error);
    return ok;
#else
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0)
        return errno == ENOENT && WriteThroughTemporary(path, nullptr, write);
    if (S_ISLNK(link.st_mode)) {
        struct stat behind {};
        const bool resolves = stat(path.c_str(), &behind) == 0;
        if (resolves && S_ISDIR(behind.st_mode))
            return false;
        if (resolves && (!S_ISREG(behind.st_mode) || ThroughProcessHandle(path.string())))
            return WriteInPlace(path.string(), write);
        // An ordinary link to a file (or to nothing) is itself replaced: the file it led to, which
        // may be anyone's, is not written through it.
        return WriteThroughTemporary(path, nullptr, write);
    }
    if (S_ISDIR(link.st_mode))
        return false;
    if (!S_ISREG(link.st_mode))
        return WriteInPlace(path.string(), write);
    return WriteThroughTemporary(path, &link, write);
#endif
}

} // namespace tessaline
