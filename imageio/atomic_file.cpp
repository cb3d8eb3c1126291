#include "imageio/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

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
// only read memory and call unlinkat, relative to the folder the temporary was made in.
constexpr int SlotCount = 32;
constexpr std::size_t SlotNameBytes = 256;
enum SlotState : int { SlotFree = 0, SlotFilling = 1, SlotHeld = 2, SlotTaken = 3 };

struct TemporarySlot
{
    std::atomic<int> state{SlotFree};
    int folder = -1;
    char name[SlotNameBytes];
};

TemporarySlot temporarySlots[SlotCount];
static_assert(std::atomic<int>::is_always_lock_free);

/// Remembers `name` in `folder` until Forget; -1 when every slot is taken or the name is too long
/// (the file is then still written, only a signal may leave it behind).
int Remember(int folder, const std::string& name)
{
    if (name.size() >= SlotNameBytes)
        return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = SlotFree;
        if (!temporarySlots[i].state.compare_exchange_strong(expected, SlotFilling))
            continue;
        temporarySlots[i].folder = folder;
        std::memcpy(temporarySlots[i].name, name.c_str(), name.size() + 1);
        temporarySlots[i].state.store(SlotHeld);
        return i;
    }
    return -1;
}

/// False when the handler took the slot: the process is ending and may still use its folder.
bool Forget(int slot)
{
    if (slot < 0)
        return true;
    int expected = SlotHeld;
    return temporarySlots[slot].state.compare_exchange_strong(expected, SlotFree);
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

/// Links followed on the way to one folder before the path counts as a loop, as the kernel's 40.
constexpr int MaxLinkHops = 40;

#if defined(O_PATH)
constexpr int StepFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC; // search permission is enough
#else
constexpr int StepFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

/// An open descriptor, closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd; }
    void Reset(int other = -1)
    {
        if (fd >= 0)
            close(fd);
        fd = other;
    }
    /// Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd, -1); }

private:
    int fd;
};

std::error_code SystemError(int number)
{
    return {number != 0 ? number : EIO, std::generic_category()};
}

/// Whether a link may be followed: the caller's own, or root's (the system's links, /dev/stdout).
bool MayFollow(const struct stat& link)
{
    return link.st_uid == geteuid() || link.st_uid == 0;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/// Pushes the steps of `path` on `steps`, the first step last (taken first).
void PushSteps(const std::string& path, std::vector<std::string>& steps)
{
    std::vector<std::string> forward;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at)
            forward.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    steps.insert(steps.end(), forward.rbegin(), forward.rend());
}

/// Opens the folder `path` step by step under the link rule; missing steps are made when `create`
/// is set. Returns the descriptor, or -1 with `why` set.
int OpenFolder(const std::string& path, bool create, std::error_code& why)
{
    std::vector<std::string> steps;
    PushSteps(path, steps);
    Descriptor folder(open(!path.empty() && path[0] == '/' ? "/" : ".", StepFlags));
    if (folder.Get() < 0) {
        why = SystemError(errno);
        return -1;
    }
    int hops = 0;
    while (!steps.empty()) {
        const std::string step = std::move(steps.back());
        steps.pop_back();
        if (step == ".")
            continue;
        struct stat entry
        {
        };
        if (fstatat(folder.Get(), step.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !create) {
                why = SystemError(errno);
                return -1;
            }
            if (mkdirat(folder.Get(), step.c_str(), 0777) != 0 && errno != EEXIST) {
                why = SystemError(errno);
                return -1;
            }
            if (fstatat(folder.Get(), step.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
                why = SystemError(errno);
                return -1;
            }
        }
        if (S_ISLNK(entry.st_mode)) {
            if (!MayFollow(entry)) {
                why = SafeWriteError::ForeignLink;
                return -1;
            }
            if (++hops > MaxLinkHops) {
                why = SystemError(ELOOP);
                return -1;
            }
            char text[4096];
            const ssize_t length = readlinkat(folder.Get(), step.c_str(), text, sizeof text - 1);
            if (length <= 0) {
                why = SystemError(length == 0 ? ENOENT : errno);
                return -1;
            }
            text[length] = '\0';
            if (text[0] == '/')
                folder.Reset(open("/", StepFlags));
            if (folder.Get() < 0) {
                why = SystemError(errno);
                return -1;
            }
            PushSteps(text, steps);
            continue;
        }
        if (!S_ISDIR(entry.st_mode)) {
            why = SystemError(ENOTDIR);
            return -1;
        }
        const int next = openat(folder.Get(), step.c_str(), StepFlags);
        if (next < 0 && (errno == ELOOP || errno == ENOTDIR) && ++hops <= MaxLinkHops) {
            steps.push_back(step); // swapped for a link since the look: look again
            continue;
        }
        if (next < 0) {
            why = SystemError(errno);
            return -1;
        }
        folder.Reset(next);
    }
    return folder.Release();
}

/// The folder of `path` opened under the link rule, and the name inside it.
struct Place
{
    Descriptor folder;
    std::string name;
};

bool OpenPlace(const std::filesystem::path& path, Place& place, std::error_code& why)
{
    const std::string text = path.string();
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        why = SystemError(EISDIR);
        return false;
    }
    place.name = name;
    place.folder.Reset(
        OpenFolder(path.has_parent_path() ? path.parent_path().string() : std::string("."), false, why));
    return place.folder.Get() >= 0;
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

/// Opens the entry `name` of an open folder for writing in place, without waiting for a pipe's
/// reader. A link (the caller's own: the rule was applied before) is followed only when `link`
/// is set, and the file opened must then be `behind`, the one it led to a moment ago. A regular
/// file is emptied when `truncate` is set. Returns the descriptor (blocking again), or -1.
int OpenEntryInPlace(const Place& place, const struct stat* behind, bool truncate, std::error_code& why)
{
    Descriptor fd(openat(place.folder.Get(), place.name.c_str(),
                         O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (behind ? 0 : O_NOFOLLOW)));
    if (fd.Get() < 0) {
        // ENXIO: a pipe without a reader; ELOOP: the entry became a link since it was looked at.
        const int error = errno;
        if (error == ELOOP)
            why = SafeWriteError::Changed;
        else
            why = SystemError(error);
        return -1;
    }
    struct stat status {};
    const int flags = fcntl(fd.Get(), F_GETFL);
    if (fstat(fd.Get(), &status) != 0 || flags < 0 || fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        why = SystemError(errno);
        return -1;
    }
    if (behind && (status.st_dev != behind->st_dev || status.st_ino != behind->st_ino)) {
        why = SafeWriteError::Changed;
        return -1;
    }
    if (S_ISDIR(status.st_mode)) {
        why = SystemError(EISDIR);
        return -1;
    }
    if (truncate && S_ISREG(status.st_mode) && ftruncate(fd.Get(), 0) != 0) {
        why = SystemError(errno);
        return -1;
    }
    return fd.Release();
}

/// Runs `write` on a stream over `fd` (which it takes) and flushes it; the error of the first
/// failing step goes to `why`.
bool WriteStream(int fd, bool syncFile, const std::function<bool(std::FILE*)>& write, std::error_code& why)
{
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        why = SystemError(errno);
        close(fd);
        return false;
    }
    errno = 0;
    bool ok = write(stream) && std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (ok && syncFile && fsync(fd) != 0 && errno != EINVAL)
        ok = false;
    if (!ok)
        why = SystemError(errno);
    if (std::fclose(stream) != 0 && ok) {
        why = SystemError(errno);
        ok = false;
    }
    return ok;
}

/// Writes into an existing non-regular target (or a handle of this process) without replacing it.
/// A pipe no one reads is refused rather than waited for.
bool WriteInPlace(const Place& place, const struct stat* behind, const std::function<bool(std::FILE*)>& write,
                  std::error_code& why)
{
    const int fd = OpenEntryInPlace(place, behind, true, why);
    if (fd < 0)
        return false;
    struct stat status
    {
    };
    return fstat(fd, &status) == 0 && WriteStream(fd, S_ISREG(status.st_mode), write, why);
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
bool SyncFolder(int folder)
{
    const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool ok = fsync(fd) == 0 || errno != EIO;
    close(fd);
    return ok;
}

bool WriteThroughTemporary(Place& place, const struct stat* replaced,
                           const std::function<bool(std::FILE*)>& write, const ReplaceCheck& mayReplace,
                           std::error_code& why)
{
    const int folder = place.folder.Get();
    std::string temporary;
    int fd = -1;
    int slot = -1;
    // Never wider than the result will be: a private file is private from its first byte.
    const mode_t mode = replaced != nullptr ? (replaced->st_mode & 0777) : 0666;
    {
        // The file exists only once its name is remembered: a signal between the two would
        // leave it behind.
        const SignalsHeld held;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temporary = TemporaryNameFor(place.name).string();
            // O_EXCL with O_NOFOLLOW: a name that exists in any form (file, link, pipe) is never
            // opened; another name is drawn.
            fd =
                openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd < 0 && errno != EEXIST) {
                why = SystemError(errno);
                return false;
            }
        }
        if (fd < 0) {
            why = SystemError(EEXIST);
            return false;
        }
        slot = Remember(folder, temporary);
    }

    bool ok = true;
    // A replaced result keeps who may read it: a 0600 file stays private. Its owner and group
    // too where the system lets us (as root, or a group we are in); the set-id bits never.
    if (replaced != nullptr) {
        if (fchown(fd, replaced->st_uid, replaced->st_gid) != 0)
            (void)fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);
        ok = fchmod(fd, replaced->st_mode & 0777) == 0;
        if (!ok)
            why = SystemError(errno);
    }
    if (!ok)
        close(fd);
    else
        ok = WriteStream(fd, true, write, why);
    if (ok && mayReplace) {
        // The entry as it is now, not as it was when the write began: whatever took its place
        // meanwhile must not be one of the caller's protected files.
        struct stat now
        {
        };
        if (fstatat(folder, place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode) &&
            !mayReplace(static_cast<std::uint64_t>(now.st_dev), static_cast<std::uint64_t>(now.st_ino))) {
            why = SafeWriteError::Protected;
            ok = false;
        }
    }
    if (ok && renameat(folder, temporary.c_str(), folder, place.name.c_str()) != 0) {
        why = SystemError(errno);
        ok = false;
    }
    if (!ok)
        unlinkat(folder, temporary.c_str(), 0);
    if (!Forget(slot))
        (void)place.folder.Release(); // the handler may still be removing it: the process is ending
    if (ok && !SyncFolder(folder)) {
        why = SystemError(EIO);
        ok = false;
    }
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
            unlinkat(slot.folder, slot.name, 0);
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
    // Past the file size limit a write then fails with EFBIG, and the file fails like a full disk.
    struct sigaction current
    {
    };
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGXFSZ, SIG_IGN);
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

bool WriteFileSafely(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write,
                     std::error_code* whyOut, const ReplaceCheck& mayReplace)
{
    std::error_code ignored;
    std::error_code& why = whyOut != nullptr ? *whyOut : ignored;
    why.clear();
    if (path.empty() || !path.has_filename()) {
        why = std::make_error_code(std::errc::is_a_directory);
        return false;
    }
#if defined(_WIN32)
    // Without the POSIX calls: a temporary beside the target, renamed over it once complete.
    (void)mayReplace;
    std::error_code error;
    const std::filesystem::path temporary = path.parent_path() / TemporaryNameFor(path.filename());
    std::FILE* stream = _wfopen(temporary.c_str(), L"wxb");
    if (stream == nullptr) {
        why = std::error_code(errno, std::generic_category());
        return false;
    }
    bool ok = write(stream) && std::fflush(stream) == 0 && std::ferror(stream) == 0;
    ok = std::fclose(stream) == 0 && ok;
    if (ok) {
        std::filesystem::rename(temporary, path, error);
        ok = !error;
    }
    if (!ok) {
        why = error ? error : std::make_error_code(std::errc::io_error);
        std::filesystem::remove(temporary, error);
    }
    return ok;
#else
    Place place;
    if (!OpenPlace(path, place, why))
        return false;
    struct stat link {};
    if (fstatat(place.folder.Get(), place.name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            why = SystemError(errno);
            return false;
        }
        return WriteThroughTemporary(place, nullptr, write, mayReplace, why);
    }
    if (S_ISLNK(link.st_mode)) {
        if (!MayFollow(link)) {
            why = SafeWriteError::ForeignLink;
            return false;
        }
        struct stat behind {};
        const bool resolves = fstatat(place.folder.Get(), place.name.c_str(), &behind, 0) == 0;
        if (resolves && S_ISDIR(behind.st_mode)) {
            why = SystemError(EISDIR);
            return false;
        }
        if (resolves && (!S_ISREG(behind.st_mode) || ThroughProcessHandle(path.string())))
            return WriteInPlace(place, &behind, write, why);
        // An ordinary link to a file (or to nothing) is itself replaced: the file it led to, which
        // may be anyone's, is not written through it.
        return WriteThroughTemporary(place, nullptr, write, mayReplace, why);
    }
    if (S_ISDIR(link.st_mode)) {
        why = SystemError(EISDIR);
        return false;
    }
    if (!S_ISREG(link.st_mode))
        return WriteInPlace(place, nullptr, write, why);
    return WriteThroughTemporary(place, &link, write, mayReplace, why);
#endif
}

std::FILE* OpenFileInPlace(const std::filesystem::path& path, std::error_code& why)
{
    why.clear();
#if defined(_WIN32)
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        why = std::error_code(errno, std::generic_category());
    return file;
#else
    Place place;
    if (!OpenPlace(path, place, why))
        return nullptr;
    int fd = -1;
    struct stat link
    {
    };
    if (fstatat(place.folder.Get(), place.name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            why = SystemError(errno);
            return nullptr;
        }
        fd = openat(place.folder.Get(), place.name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            why = SystemError(errno);
    } else if (S_ISLNK(link.st_mode)) {
        struct stat behind
        {
        };
        if (!MayFollow(link))
            why = SafeWriteError::ForeignLink;
        else if (fstatat(place.folder.Get(), place.name.c_str(), &behind, 0) != 0)
            why = SystemError(errno);
        else
            fd = OpenEntryInPlace(place, &behind, true, why);
    } else {
        fd = OpenEntryInPlace(place, nullptr, true, why);
    }
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        why = SystemError(errno);
        close(fd);
    }
    return file;
#endif
}

bool ReadFileSafely(const std::filesystem::path& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& bytes,
                    std::error_code& why)
{
    bytes.clear();
    why.clear();
#if defined(_WIN32)
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        why = std::error_code(errno, std::generic_category());
        return false;
    }
#else
    // The link rule at each step; a link of the caller's own at the name is taken by its text
    // from the folder it lies in, and that path walked again under the same rule.
    std::filesystem::path current = path;
    Descriptor fd;
    for (int hop = 0;; ++hop) {
        if (hop > MaxLinkHops) {
            why = SystemError(ELOOP);
            return false;
        }
        Place place;
        if (!OpenPlace(current, place, why))
            return false;
        struct stat entry
        {
        };
        if (fstatat(place.folder.Get(), place.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            why = SystemError(errno);
            return false;
        }
        if (S_ISLNK(entry.st_mode)) {
            if (!MayFollow(entry)) {
                why = SafeWriteError::ForeignLink;
                return false;
            }
            char text[4096];
            const ssize_t length = readlinkat(place.folder.Get(), place.name.c_str(), text, sizeof text - 1);
            if (length <= 0) {
                why = SystemError(length == 0 ? ENOENT : errno);
                return false;
            }
            text[length] = '\0';
            const std::filesystem::path target(text);
            current = target.is_absolute() ? target : current.parent_path() / target;
            continue;
        }
        // Non-blocking, so that a pipe swapped in since the look is refused rather than waited on.
        fd.Reset(openat(place.folder.Get(), place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                                                                      O_NOCTTY));
        if (fd.Get() < 0) {
            why = SystemError(errno);
            return false;
        }
        break;
    }
    struct stat status
    {
    };
    if (fstat(fd.Get(), &status) != 0) {
        why = SystemError(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        why = SystemError(EISDIR);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = SystemError(ENODEV);
        return false;
    }
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        why = SystemError(EFBIG);
        return false;
    }
    std::FILE* file = fdopen(fd.Get(), "rb");
    if (file == nullptr) {
        why = SystemError(errno);
        return false;
    }
    fd.Release();
#endif
    // In parts, so that a file growing while it is read stops at the limit all the same.
    std::uint8_t part[65536];
    for (;;) {
        const std::size_t got = std::fread(part, 1, sizeof part, file);
        if (bytes.size() + got > maxBytes) {
            bytes.clear();
            std::fclose(file);
            why = SystemError(EFBIG);
            return false;
        }
        bytes.insert(bytes.end(), part, part + got);
        if (got < sizeof part)
            break;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        bytes.clear();
        why = SystemError(EIO);
        return false;
    }
    return true;
}

bool CreateFolderSafely(const std::filesystem::path& path, std::error_code& why)
{
    why.clear();
#if defined(_WIN32)
    std::filesystem::create_directories(path, why);
    return !why || std::filesystem::is_directory(path);
#else
    const int fd = OpenFolder(path.string(), true, why);
    if (fd < 0)
        return false;
    close(fd);
    return true;
#endif
}

const std::error_category& SafeWriteCategory()
{
    class Category : public std::error_category
    {
    public:
        const char* name() const noexcept override { return "safe write"; }
        std::string message(int value) const override
        {
            switch (static_cast<SafeWriteError>(value)) {
            case SafeWriteError::ForeignLink:
                return "a link owned by another user is on the way (never followed)";
            case SafeWriteError::Protected:
                return "it would replace a file the run must keep";
            case SafeWriteError::Changed:
                return "the target changed while it was being opened";
            }
            return "unknown refusal";
        }
    };
    static const Category category;
    return category;
}

std::error_code make_error_code(SafeWriteError error)
{
    return {static_cast<int>(error), SafeWriteCategory()};
}

} // namespace tessaline
