// SpectrogramGenerator::generateInHalves(): a long file's two halves decoded at once.

#include "SpectrogramGenerator.h"

#include "AudioDecoder.h"

#include <algorithm>
#include <future>
#include <iterator>

namespace sondrel::core {
namespace {

// A file's decoder that fails its next read once the generation is cancelled.
class CancellableDecoder final : public AudioDecoder {
public:
    CancellableDecoder(std::unique_ptr<AudioDecoder> inner, const std::atomic<bool>& cancelled)
        : m_inner(std::move(inner))
        , m_cancelled(cancelled)
    {
    }

    double sampleRate() const noexcept override { return m_inner->sampleRate(); }
    int channelCount() const noexcept override { return m_inner->channelCount(); }
    std::uint64_t lengthInFrames() const noexcept override { return m_inner->lengthInFrames(); }
    Status seek(std::uint64_t frame) override { return m_inner->seek(frame); }
    Result<std::size_t> read(std::size_t frames, AudioBuffer& buffer) override
    {
        if (m_cancelled.load())
            return Error { "cancelled" };
        return m_inner->read(frames, buffer);
    }

private:
    std::unique_ptr<AudioDecoder> m_inner;
    const std::atomic<bool>& m_cancelled;
};

// One stretch of a file, seen as a file of its own: frame 0 is the stretch's first frame.
class RangeDecoder final : public AudioDecoder {
public:
    RangeDecoder(AudioDecoder& inner, std::uint64_t start, std::uint64_t length)
        : m_inner(inner)
        , m_start(start)
        , m_length(length)
    {
    }

    double sampleRate() const noexcept override { return m_inner.sampleRate(); }
    int channelCount() const noexcept override { return m_inner.channelCount(); }
    std::uint64_t lengthInFrames() const noexcept override { return m_length; }
    Status seek(std::uint64_t frame) override
    {
        m_position = std::min(frame, m_length);
        return m_inner.seek(m_start + m_position);
    }
    Result<std::size_t> read(std::size_t frames, AudioBuffer& buffer) override
    {
        auto got = m_inner.read(
            static_cast<std::size_t>(std::min<std::uint64_t>(frames, m_length - m_position)), buffer);
        if (got)
            m_position += *got;
        return got;
    }

private:
    AudioDecoder& m_inner;
    std::uint64_t m_start;
    std::uint64_t m_length;
    std::uint64_t m_position = 0;
};

Result<CancellableDecoder> openCancellable(
    const SpectrogramGenerator::DecoderOpener& open, const std::atomic<bool>& cancelled)
{
    auto opened = open();
    if (!opened)
        return opened.error();
    return CancellableDecoder(std::move(*opened), cancelled);
}

} // namespace

Result<SpectrogramData> SpectrogramGenerator::generateInHalves(
    const std::filesystem::path& path, const std::atomic<bool>& cancelled) const
{
    return generateInHalves([&path] { return openAudioFile(path); }, cancelled);
}

Result<SpectrogramData> SpectrogramGenerator::generateInHalves(
    const DecoderOpener& open, const std::atomic<bool>& cancelled) const
{
    auto first = openCancellable(open, cancelled);
    if (!first)
        return first.error();
    const std::uint64_t length = first->lengthInFrames();
    if (length < kSplitFrames)
        return generate(*first);

    // Decoding dominates, and one decoder cannot be shared: each half has its own.
    const std::uint64_t middle = length / 2;
    const SpectrogramGenerator half(m_fftSize, std::max<std::int64_t>(m_targetTimeSlices / 2, 1));
    auto second = std::async(std::launch::async, [&]() -> Result<SpectrogramData> {
        auto decoder = openCancellable(open, cancelled);
        if (!decoder)
            return decoder.error();
        RangeDecoder range(*decoder, middle, length - middle);
        return half.generate(range);
    });
    RangeDecoder range(*first, 0, middle);
    auto result = half.generate(range);
    auto rest = second.get();
    if (!result)
        return result;
    if (rest) {
        auto& rows = result->magnitudes;
        rows.insert(rows.end(), std::make_move_iterator(rest->magnitudes.begin()),
            std::make_move_iterator(rest->magnitudes.end()));
    }
    result->duration = static_cast<double>(length) / result->sampleRate;
    return result;
}

} // namespace sondrel::core
