#include "imageio/output_files.h"

#include <fstream>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "imageio/png_writer.h"

namespace fs = std::filesystem;

namespace tessaline {

fs::path ToPath(const QString& text)
{
    return fs::path(text.toStdU16String());
}

QString ToQString(const fs::path& path)
{
    return QString::fromStdU16String(path.u16string());
}

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
    fs::create_directories(destination.folderToCreate, error);
    if (error && !fs::is_directory(destination.folderToCreate))
        return "cannot create the folder " + ToQString(destination.folderToCreate) + ": " +
               QString::fromStdString(error.message());
    return std::nullopt;
}

std::optional<QString> WhyNotAnInput(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status))
        return QStringLiteral("cannot read: no such file");
    if (fs::is_directory(status))
        return QStringLiteral("cannot read: is a folder");
    // A pipe or a device would block the open or never end; only plain files are images here.
    if (!fs::is_regular_file(status))
        return QStringLiteral("cannot read: not a regular file");
    if (!std::ifstream(path, std::ios::binary).is_open())
        return QStringLiteral("cannot read: permission denied");
    return std::nullopt;
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
    if (const auto target = IdentityOf(destination)) {
        if (!namedByOption && inputs.contains(*target))
            return Clash::Input;
        if (!namedByOption && weights.contains(*target))
            return Clash::Weights;
        if (results.contains(*target))
            return Clash::EarlierResult;
    }
    if (const auto temporary = IdentityOf(TemporaryPathFor(destination)))
        if (inputs.contains(*temporary) || weights.contains(*temporary))
            return Clash::TemporaryIsInput;
    return Clash::None;
}

} // namespace tessaline
