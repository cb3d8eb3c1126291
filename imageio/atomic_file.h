#pragma once
// imageio/atomic_file.h: putting a whole file in place so that nobody can hijack, race or half-finish
// it. A regular target is replaced by a temporary written beside it: created under a fresh name
// that no one else can have planted (never following or reusing an existing name), flushed to disk,
// given the permission bits (and where allowed the owner) of the file it replaces, then renamed over the target, and the folder
// flushed after the rename. A crash leaves the old file or the new one; two writers of one target
// each rename a complete file of their own. A target that is a device, a pipe, or a link to one (or
// a handle of this process such as /dev/stdout) is written in place, never replaced. These are the
// only functions of the file layer that talk to the operating system's file calls.

#include <cstdio>
#include <filesystem>
#include <functional>

namespace tessaline {

/// Puts the bytes `write` gives to a stream into the file at `path`. `write` gets the open stream
/// (not to be closed) and returns whether it wrote everything. Returns true only when the whole
/// file is in place; on failure (no folder, a folder in the target's place, a pipe no one reads,
/// a full disk, `write` returning false) an existing regular target keeps its content and no
/// temporary stays behind. Never throws; `write` must not throw either.
bool WriteFileSafely(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write);

/// True when a name is one WriteFileSafely gives its temporaries: hidden, ending in ".tmp".
bool IsTemporaryName(const std::filesystem::path& name);

/// Makes SIGINT, SIGTERM and SIGHUP remove the temporaries being written before the process ends
/// by the signal as it would have. A signal the process ignores or already handles is left alone;
/// a handler of the caller's own can call RemoveTemporariesNow. Call once, early in main.
void InstallTemporaryCleanup();

/// Removes every temporary being written at this moment. Async-signal-safe: for signal handlers.
void RemoveTemporariesNow() noexcept;

/// True when `path` names the file this process's standard output goes to (a redirection to that
/// file, /dev/stdout, /dev/fd/1), so that messages must keep off standard output.
bool IsStandardOutput(const std::filesystem::path& path);

} // namespace tessaline
