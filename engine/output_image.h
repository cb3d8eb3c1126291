#pragma once
// engine/output_image.h: the output image's buffers, made for one reduction and kept only when it
// completes. Shared by every road a reduction takes to its result.

#include "engine/colour_model.h"

namespace tessaline {

/// Sizes the output's indices and rows at the input's size and sets its gamma to InternalGamma.
/// The buffers are built beside the image, so that a failure (false) leaves it untouched.
bool AllocateOutput(const RgbaImage& input, IndexedImage& output);

/// Clears the output unless the reduction completed, so that a stage failing after the buffers exist
/// never leaves a half-mapped image that could be shown or saved.
class OutputCommit
{
public:
    explicit OutputCommit(IndexedImage& output) : output(output) {}
    ~OutputCommit()
    {
        if (!committed)
            output.Release();
    }
    OutputCommit(const OutputCommit&) = delete;
    OutputCommit& operator=(const OutputCommit&) = delete;
    void Commit() { committed = true; }

private:
    IndexedImage& output;
    bool committed = false;
};

} // namespace tessaline
