#include "FileName.h"

#include <string>

namespace sondrel {

bool hasMp3Extension(const std::filesystem::path& path)
{
    const std::string extension = path.extension().string();
    return extension.size() == 4 && extension[0] == '.' && (extension[1] | 0x20) == 'm'
        && (extension[2] | 0x20) == 'p' && extension[3] == '3';
}

} // namespace sondrel
