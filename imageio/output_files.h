#pragma once
// imageio/output_files.h: where a run's results go, the same for the window's automatic save, its
// save dialog and every mode of tessaline-cli: the result's name (OUTPUT/NAME.png beside the
// input, or -o, or --output-dir), the folder made for it, and the rule that a run never writes
// over one of its own inputs. Names of inputs, as paths and as printed, are in
// imageio/input_names.h. Nothing here throws.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_set>

#include <QString>

namespace tessaline {

/// The result's file name for `input`: its file name, with the extension replaced by ".png"
/// unless it is exactly ".png" (so "cat.PNG" gives "cat.png", "a.b.bmp" gives "a.b.png").
std::filesystem::path ResultFileName(const std::filesystem::path& input);
/// The automatic save's target: OUTPUT/ResultFileName in the input's folder.
std::filesystem::path AutoSavePath(const std::filesystem::path& input);
/// The save dialog's proposal: ResultFileName beside the input.
std::filesystem::path DefaultSavePath(const std::filesystem::path& input);

/// Where results go: both empty means OUTPUT beside each input.
struct OutputRule
{
    std::filesystem::path file;   ///< -o: the one result's path
    std::filesystem::path folder; ///< --output-dir: results as ResultFileName inside it
};

/// Where the result of one input goes, and the folder to make first (empty: none).
struct Destination
{
    std::filesystem::path file;
    std::filesystem::path folderToCreate;
};

Destination DestinationFor(const OutputRule& rule, const std::filesystem::path& input);

/// Makes `destination`'s folder (and its parents) when missing, never through a link of another
/// user (imageio/atomic_file.h). On failure returns a reason ("cannot create the folder F: why");
/// nullopt when the folder is there.
std::optional<QString> CreateDestinationFolder(const Destination& destination);

/// Why a write failed, in a message's words: "no space left on the device", "permission denied",
/// "read-only file system", "no such folder", "too many open files", "file too large", a link
/// refused by the link rule...
QString WriteFailureReason(const std::error_code& error);

/// The identity of an existing file (device and file number): two paths with one identity name
/// the same file, through links, "..", or another spelling.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

/// The identity of `path` (links followed), or nullopt when it does not exist.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

/// One version of a file: its identity, size and modification and change times (nanoseconds). A
/// file written again, or replaced, gets another stamp.
struct FileStamp
{
    FileIdentity identity;
    std::uint64_t bytes = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

/// The stamp of `path` (links followed), or nullopt when it does not exist.
std::optional<FileStamp> StampOf(const std::filesystem::path& path);

/// Gives the file at `path` (a link there is not followed) the modification time of `stamp`, so
/// that it counts as no newer than the version `stamp` describes. False when that fails.
bool SetModifiedTime(const std::filesystem::path& path, const FileStamp& stamp);

/// Where a result lands, as a run decides clashes before any file exists: the identity of the
/// deepest folder of the path that exists now (links followed) and the rest of the path below it.
/// Two destinations with one place are one file, however they are spelled.
struct ResultPlace
{
    FileIdentity folder;
    std::string rest;
    bool operator==(const ResultPlace&) const = default;
};

/// The place of `destination`; nullopt when not even its first folder exists.
std::optional<ResultPlace> ResultPlaceOf(const std::filesystem::path& destination);

/// The files a run must not write over: its inputs and the weights image, and the results it has
/// written so far. One identity set, so that checking a destination costs the same for one input
/// as for ten thousand.
class ProtectedFiles
{
public:
    /// What a destination would replace, if anything.
    enum class Clash
    {
        None,
        Input,         ///< one of the run's inputs
        Weights,       ///< the weights image
        EarlierResult, ///< a result this run has written
    };

    /// Protects `path` (a file that does not exist needs no protection).
    void AddInput(const std::filesystem::path& path);
    void AddWeights(const std::filesystem::path& path);
    void AddResult(const std::filesystem::path& path);

    /// Whether writing `destination` would replace a protected file (its temporary never can: the
    /// writer only ever creates a fresh name). A
    /// destination that -o names (`namedByOption`) may replace an input or the weights image: the
    /// user asked for exactly that file (and -o takes one input).
    Clash Check(const std::filesystem::path& destination, bool namedByOption) const;
    /// The same for a file known by its identity (the entry about to be replaced).
    Clash CheckIdentity(const FileIdentity& target, bool namedByOption) const;

private:
    struct Hash
    {
        std::size_t operator()(const FileIdentity& id) const
        {
            return std::hash<std::uint64_t>()(id.file * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };
    std::unordered_set<FileIdentity, Hash> inputs;
    std::unordered_set<FileIdentity, Hash> weights;
    std::unordered_set<FileIdentity, Hash> results;
};

} // namespace tessaline
