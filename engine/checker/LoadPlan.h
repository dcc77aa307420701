// Turns a scatter path into the images to hash: the scatter file says what is downloaded, the checksum list
// beside it what each image must hash to. Everything that can be refused before hashing is refused here.
#pragma once

#include "CheckStatus.h"
#include "ImageJob.h"

#include <vector>

namespace quillcheck {

class LoadPlan
{
public:
    // The images in the list's order, each measured and known to be a readable regular file.
    static CheckStatus Make(const char* scatterPath, std::vector<ImageJob>& jobs);

private:
    static CheckStatus ScatterPath(const char* scatterPath, QString& path);
    static CheckStatus MeasureImage(ImageJob& job);
};

} // namespace quillcheck
