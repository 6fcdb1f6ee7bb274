#include "ReadAheadHandoff.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>

namespace sondrel::core {
namespace {

struct Kept {
    std::string path;
    ReadAheadHandoff::FileIdentity identity;
    std::unique_ptr<AudioDecoder> decoder;
};

std::mutex& lock()
{
    static std::mutex mutex;
    return mutex;
}

std::deque<Kept>& kept()
{
    // Never destroyed: a read-ahead thread may still finish during exit.
    static auto* const decoders = new std::deque<Kept>();
    return *decoders;
}

} // namespace

void ReadAheadHandoff::keep(
    const std::filesystem::path& path, FileIdentity identity, std::unique_ptr<AudioDecoder> decoder)
{
    std::unique_ptr<AudioDecoder> dropped;
    std::lock_guard guard(lock());
    auto& decoders = kept();
    std::erase_if(decoders, [&](const Kept& entry) { return entry.path == path.native(); });
    if (decoders.size() >= kCapacity) {
        dropped = std::move(decoders.front().decoder);
        decoders.pop_front();
    }
    decoders.push_back({ path.native(), identity, std::move(decoder) });
}

std::unique_ptr<AudioDecoder> ReadAheadHandoff::take(const std::filesystem::path& path)
{
    std::unique_ptr<AudioDecoder> decoder;
    FileIdentity identity;
    {
        std::lock_guard guard(lock());
        auto& decoders = kept();
        const auto found = std::find_if(
            decoders.begin(), decoders.end(), [&](const Kept& entry) { return entry.path == path.native(); });
        if (found == decoders.end())
            return nullptr;
        decoder = std::move(found->decoder);
        identity = found->identity;
        decoders.erase(found);
    }
    struct stat now { };
    if (::stat(path.c_str(), &now) != 0
        || !(identity
            == FileIdentity { now.st_dev, now.st_ino, now.st_size,
                now.st_mtim.tv_sec * 1000000000LL + now.st_mtim.tv_nsec }))
        return nullptr;
    return decoder;
}

void ReadAheadHandoff::clear()
{
    std::deque<Kept> dropped;
    std::lock_guard guard(lock());
    dropped.swap(kept());
}

} // namespace sondrel::core
