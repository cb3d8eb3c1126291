#pragma once
// imageio/atomic_file.h: putting a whole file in place so that nobody can hijack, race or half-finish
// it. A regular target is replaced by a temporary written beside it: created under a fresh name
// that no one else can have planted (never following or reusing an existing name), flushed to disk,
// given the permission bits (and where allowed the owner) of the file it replaces, then renamed over the target, and the folder
// flushed after the rename. A crash leaves the old file or the new one; two writers of one target
// each rename a complete file of their own. A target that is a device, a pipe, or a link to one (or
// a handle of this process such as /dev/stdout) is written in place, never replaced. These are the
// only functions of the file layer that talk to the operating system's file calls.
//
// The link rule: a symbolic link owned by anyone but the caller or root is never followed, neither
// at the target's name nor in its folder's path (the rule the kernel applies in sticky folders,
// here everywhere), so a neighbour's link cannot send a write into a device or someone else's
// folder. The target's folder is opened once, link by link under that rule, and every later step
// (the look at the target, the temporary, the rename) happens relative to that open folder, so
// swapping a folder on the way for a link while a result is computed changes nothing.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace tessaline {

/// Refusals of the safe writer that no system error names.
enum class SafeWriteError : int
{
    ForeignLink = 1, ///< a link owned by another user is on the way
    Protected = 2,   ///< the entry about to be replaced is a file the caller protects
    Changed = 3,     ///< the target was swapped while it was being opened
};
const std::error_category& SafeWriteCategory();
std::error_code make_error_code(SafeWriteError error);

/// Called just before a regular file is replaced, with its device and file number (the entry
/// itself, never followed); false keeps the file and fails the write with SafeWriteError::Protected.
using ReplaceCheck = std::function<bool(std::uint64_t device, std::uint64_t file)>;

/// Puts the bytes `write` gives to a stream into the file at `path`. `write` gets the open stream
/// (not to be closed) and returns whether it wrote everything. Returns true only when the whole
/// file is in place; on failure (no folder, a folder in the target's place, a pipe no one reads,
/// a full disk, a link of another user on the way, `write` returning false) an existing regular
/// target keeps its content, no temporary stays behind and `why` (when given) gets the reason: a
/// system error (ENOSPC, EACCES, EROFS, ENOENT, EMFILE, EFBIG, EISDIR, ENXIO...) or a
/// SafeWriteError. The temporary is created no wider than the result's final permissions. Never
/// throws; `write` must not throw either.
bool WriteFileSafely(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write,
                     std::error_code* why = nullptr, const ReplaceCheck& mayReplace = {});

/// Opens `path` for writing in place (a report that grows record by record) under the same rules:
/// the link rule on the way and at the name, a FIFO nobody reads refused at once rather than
/// waited for, a folder refused, a regular file emptied, a missing one created. Null with `why`
/// set on failure.
std::FILE* OpenFileInPlace(const std::filesystem::path& path, std::error_code& why);

/// Reads the whole regular file at `path` into `bytes` under the link rule: a link owned by another
/// user on the way or at the name is never followed, so a neighbour's link cannot lead a run into
/// a file only the caller may read. A device, a pipe or a folder is refused (never waited on), as
/// is a file over `maxBytes`. False with `why` set (a system error or SafeWriteError::ForeignLink)
/// on failure; `bytes` is then empty. Throws std::bad_alloc only.
bool ReadFileSafely(const std::filesystem::path& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& bytes,
                    std::error_code& why);

/// Makes the folder `path` and its missing parents, under the link rule. False with `why` set
/// when a folder cannot be made or a path step is not a folder.
bool CreateFolderSafely(const std::filesystem::path& path, std::error_code& why);

/// True when a name is one WriteFileSafely gives its temporaries: hidden, ending in ".tmp".
bool IsTemporaryName(const std::filesystem::path& name);

/// Makes SIGINT, SIGTERM and SIGHUP remove the temporaries being written before the process ends
/// by the signal as it would have. A signal the process ignores or already handles is left alone;
/// a handler of the caller's own can call RemoveTemporariesNow. A write past the file size limit
/// (ulimit -f) then fails with EFBIG instead of ending the process. Call once, early in main.
void InstallTemporaryCleanup();

/// Removes every temporary being written at this moment. Async-signal-safe: for signal handlers.
void RemoveTemporariesNow() noexcept;

/// True when `path` names the file this process's standard output goes to (a redirection to that
/// file, /dev/stdout, /dev/fd/1), so that messages must keep off standard output.
bool IsStandardOutput(const std::filesystem::path& path);

} // namespace tessaline

template <>
struct std::is_error_code_enum<tessaline::SafeWriteError> : std::true_type
{
};
