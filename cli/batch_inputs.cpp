#include "cli/batch_inputs.h"

#include <system_error>

#include "cli/bitmap_plugin_loader.h"
#include "cli/cli_options.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "jobs/folder_walk.h"

namespace fs = std::filesystem;

namespace tessaline {

namespace {

// A walked folder's files as inputs: a folder that could not be read fails with its reason.
void AddWalked(std::vector<BatchInput>& inputs, const fs::path& folder, const fs::path& outputDir)
{
    std::vector<WalkedFile> walked;
    WalkFolder(folder, outputDir, PluginBitmaps(), walked);
    for (WalkedFile& file : walked)
        inputs.push_back({ToQString(file.path), file.path, std::move(file.subfolder), false, std::move(file.walkError)});
}

} // namespace

std::vector<BatchInput> ExpandInputs(const QStringList& arguments, bool recursive, const fs::path& outputDir)
{
    std::vector<BatchInput> inputs;
    for (const QString& argument : arguments) {
        if (argument == CliStandardStream) {
            inputs.push_back({argument, {}, {}, true, std::nullopt});
            continue;
        }
        const fs::path path = ToPath(argument);
        std::error_code error;
        if (recursive && fs::is_directory(path, error))
            AddWalked(inputs, path, outputDir);
        else
            inputs.push_back({argument, path, {}, false, std::nullopt});
    }
    return inputs;
}

} // namespace tessaline
