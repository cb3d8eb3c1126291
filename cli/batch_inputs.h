#pragma once
// cli/batch_inputs.h: the list of images one run of tessaline-cli reduces, from its command line.
// Files are taken as named; with -r a folder stands for the image files under it, walked in name
// order so that every run (and every -j) sees the same list. Hidden files and folders, the tool's
// own OUTPUT folders, the --output-dir folder and links to folders are left out; files are taken
// by their content, whatever their extension, and a file that cannot be opened is taken too (it
// then fails with its reason, as when named directly).

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

struct BatchInput
{
    QString name;                     ///< as the messages and the report name it
    std::filesystem::path path;       ///< empty for standard input
    std::filesystem::path subfolder;  ///< a walked file's folder below the folder given; mirrored under --output-dir
    bool standardInput = false;
    std::optional<QString> walkError; ///< a folder that could not be read: the reason, reported as its failure
};

/// The inputs of `arguments` in command-line order, folders expanded (with `recursive`; the parser
/// refuses folders otherwise). `outputDir` (may be empty) is never walked into. Never throws but
/// std::bad_alloc.
std::vector<BatchInput> ExpandInputs(const QStringList& arguments, bool recursive,
                                     const std::filesystem::path& outputDir);

} // namespace tessaline
