#pragma once

#include "AudioDecoder.h"

#include <filesystem>
#include <memory>

namespace sondrel::core {

// Decoders the read-ahead opened, kept for the analysis about to open the same file: the
// file is opened, probed and (for a VBR MP3) walked once, not twice. Thread-safe (one mutex).
// At most kCapacity decoders are kept, the oldest dropped first; one is handed over only while
// its path still names the very file it reads (same device, inode, size and modification time).
class ReadAheadHandoff {
public:
    static constexpr std::size_t kCapacity = 8;

    // The identity of the file an open descriptor reads.
    struct FileIdentity {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        long long size = 0;
        long long modifiedNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    static void keep(const std::filesystem::path& path, FileIdentity identity, std::unique_ptr<AudioDecoder> decoder);
    // The kept decoder of this path, if the path still names its file; it is no longer kept.
    [[nodiscard]] static std::unique_ptr<AudioDecoder> take(const std::filesystem::path& path);
    // Drops every kept decoder (and closes its file).
    static void clear();
};

} // namespace sondrel::core
