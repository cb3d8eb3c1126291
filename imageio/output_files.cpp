#include "imageio/output_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "imageio/atomic_file.h"
#include "imageio/input_names.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace tessaline {

fs::path ResultFileName(const fs::path& input)
{
    const fs::path name = input.filename();
    if (name.extension() == ".png")
        return name;
    fs::path stem = name.stem();
    stem += ".png";
    return stem;
}

fs::path AutoSavePath(const fs::path& input)
{
    return input.parent_path() / "OUTPUT" / ResultFileName(input);
}

fs::path DefaultSavePath(const fs::path& input)
{
    return input.parent_path() / ResultFileName(input);
}

Destination DestinationFor(const OutputRule& rule, const fs::path& input)
{
    if (!rule.file.empty())
        return {rule.file, {}};
    if (!rule.folder.empty())
        return {rule.folder / ResultFileName(input), rule.folder};
    const fs::path file = AutoSavePath(input);
    return {file, file.parent_path()};
}

std::optional<QString> CreateDestinationFolder(const Destination& destination)
{
    if (destination.folderToCreate.empty())
        return std::nullopt;
    std::error_code error;
    if (!CreateFolderSafely(destination.folderToCreate, error))
        return "cannot create the folder " + DisplayName(destination.folderToCreate) + ": " +
               WriteFailureReason(error);
    return std::nullopt;
}

QString WriteFailureReason(const std::error_code& error)
{
    if (error.category() != std::generic_category() && error.category() != std::system_category())
        return QString::fromStdString(error.message());
    switch (error.value()) {
    case ENOSPC:
        return QStringLiteral("no space left on the device");
    case EDQUOT:
        return QStringLiteral("disk quota exceeded");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case EROFS:
        return QStringLiteral("read-only file system");
    case ENOENT:
        return QStringLiteral("no such folder");
    case ENOTDIR:
        return QStringLiteral("a path step is not a folder");
    case EISDIR:
        return QStringLiteral("a folder is in the file's place");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("too many open files");
    case EFBIG:
        return QStringLiteral("file too large (the file size limit)");
    case ENXIO:
        return QStringLiteral("a pipe nobody reads");
    case ELOOP:
        return QStringLiteral("too many links on the way");
    case EIO:
        return QStringLiteral("input/output error");
    default:
        return QString::fromLocal8Bit(std::strerror(error.value())).toLower();
    }
}

std::optional<ResultPlace> ResultPlaceOf(const fs::path& destination)
{
    std::error_code error;
    const fs::path whole = fs::absolute(destination, error).lexically_normal();
    if (error)
        return std::nullopt;
    fs::path rest = whole.filename();
    for (fs::path folder = whole.parent_path();; folder = folder.parent_path()) {
        if (const auto id = IdentityOf(folder))
            return ResultPlace{*id, rest.lexically_normal().string()};
        if (folder == folder.parent_path() || folder.empty())
            return std::nullopt;
        rest = folder.filename() / rest;
    }
}

std::optional<FileIdentity> IdentityOf(const fs::path& path)
{
#if defined(_WIN32)
    // No device and file numbers through the standard library: the canonical spelling stands in.
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    if (error)
        return std::nullopt;
    return FileIdentity{0, std::hash<std::wstring>()(canonical.native())};
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
#endif
}

std::optional<FileStamp> StampOf(const fs::path& path)
{
#if defined(_WIN32)
    std::error_code error;
    const auto identity = IdentityOf(path);
    const auto bytes = fs::file_size(path, error);
    const auto time = fs::last_write_time(path, error);
    if (!identity || error)
        return std::nullopt;
    return FileStamp{*identity, bytes, time.time_since_epoch().count(), 0};
#else
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    const auto ns = [](const timespec& time) {
        return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
    };
    return FileStamp{{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
                     static_cast<std::uint64_t>(info.st_size),
                     ns(info.st_mtim),
                     ns(info.st_ctim)};
#endif
}

bool SetModifiedTime(const fs::path& path, const FileStamp& stamp)
{
#if defined(_WIN32)
    std::error_code error;
    fs::last_write_time(path, fs::file_time_type(fs::file_time_type::duration(stamp.modifiedNs)), error);
    return !error;
#else
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(stamp.modifiedNs / 1000000000),
                                static_cast<long>(stamp.modifiedNs % 1000000000)}};
    return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
#endif
}

void ProtectedFiles::AddInput(const fs::path& path)
{
    if (const auto id = IdentityOf(path))
        inputs.insert(*id);
}

void ProtectedFiles::AddWeights(const fs::path& path)
{
    if (const auto id = IdentityOf(path))
        weights.insert(*id);
}

void ProtectedFiles::AddResult(const fs::path& path)
{
    if (const auto id = IdentityOf(path))
        results.insert(*id);
}

ProtectedFiles::Clash ProtectedFiles::Check(const fs::path& destination, bool namedByOption) const
{
    if (const auto target = IdentityOf(destination))
        return CheckIdentity(*target, namedByOption);
    return Clash::None;
}

ProtectedFiles::Clash ProtectedFiles::CheckIdentity(const FileIdentity& target, bool namedByOption) const
{
    if (!namedByOption && inputs.contains(target))
        return Clash::Input;
    if (!namedByOption && weights.contains(target))
        return Clash::Weights;
    if (results.contains(target))
        return Clash::EarlierResult;
    return Clash::None;
}

} // namespace tessaline
