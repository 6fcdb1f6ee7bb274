// libFuzzer entry for ID3Parser (clang only); tests/fuzz/run.sh builds and runs it.
// The parser reads files only, so each input becomes the whole content of one scratch file.

#include "ID3Parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct ScratchFile {
    std::filesystem::path path;
    int descriptor = -1;

    ScratchFile()
    {
        path = std::filesystem::temp_directory_path()
            / ("sondrel-id3-fuzz-" + std::to_string(::getpid()) + ".mp3");
        descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (descriptor < 0)
            std::abort();
    }
    ~ScratchFile()
    {
        ::close(descriptor);
        ::unlink(path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch;
    if (::ftruncate(scratch.descriptor, 0) != 0)
        std::abort();
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count
            = ::pwrite(scratch.descriptor, data + written, size - written, static_cast<off_t>(written));
        if (count <= 0)
            std::abort();
        written += static_cast<std::size_t>(count);
    }
    const sondrel::core::ID3Parser::Metadata metadata = sondrel::core::ID3Parser::parse(scratch.path);
    // Bitrates come from the Layer III table or the four size-based guesses, never anything else.
    if (metadata.bitrate && (*metadata.bitrate < 32 || *metadata.bitrate > 320))
        std::abort();
    return 0;
}
