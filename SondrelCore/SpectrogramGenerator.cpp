#include "SpectrogramGenerator.h"

#include "AudioDecoder.h"
#include "fft/FastFFTProcessor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

namespace sondrel::core {
namespace {

Error makeError(SpectrogramError error)
{
    return Error { std::string(description(error)) };
}

} // namespace

std::string_view description(SpectrogramError error) noexcept
{
    switch (error) {
    case SpectrogramError::emptyFile:
        return "Audio file is empty";
    case SpectrogramError::fileTooShort:
        return "Audio file is too short";
    case SpectrogramError::bufferCreationFailed:
        return "Failed to create audio buffer";
    case SpectrogramError::noAudioData:
        return "No audio data found";
    case SpectrogramError::fftSetupFailed:
        return "Failed to setup FFT";
    }
    return "No audio data found";
}

Result<SpectrogramData> SpectrogramGenerator::generate(
    const std::filesystem::path& path, const Progress& progress) const
{
    auto decoder = openAudioFile(path);
    if (!decoder)
        return decoder.error();
    return generate(**decoder, progress);
}

Result<SpectrogramData> SpectrogramGenerator::generate(AudioDecoder& decoder, const Progress& progress) const
{
    const auto total = static_cast<std::int64_t>(
        std::min<std::uint64_t>(decoder.lengthInFrames(), static_cast<std::uint64_t>(INT64_MAX / 4)));
    const std::int64_t n = m_fftSize;
    if (total < 1)
        return makeError(SpectrogramError::emptyFile);
    const std::int64_t hop = std::max(n / 4, total / std::max<std::int64_t>(m_targetTimeSlices, 1));
    if (total < n || hop < 1)
        return makeError(SpectrogramError::fileTooShort);
    const std::int64_t planned = (total - n) / hop + 1;

    auto processor = FastFFTProcessor::make(n);
    if (!processor)
        return makeError(SpectrogramError::fftSetupFailed);
    if (decoder.channelCount() < 1)
        return makeError(SpectrogramError::noAudioData);

    // The stated length sizes the chunk, so a header that lies about it must not size the
    // buffer: beyond the cap a chunk holds fewer rows and the file is read in more chunks.
    const std::int64_t chunkCap = std::max(n, kMaxChunkFrames);
    const std::int64_t chunk = std::min({ hop <= chunkCap / 50 ? 50 * hop + n : chunkCap, total, chunkCap });
    SpectrogramData data;
    std::vector<float> power;
    std::optional<AudioBuffer> buffer;
    try {
        // Only the first channel is drawn; the decoder drops the others.
        buffer.emplace(1, static_cast<std::size_t>(chunk));
        power.resize(static_cast<std::size_t>(n / 2));
        data.magnitudes.reserve(static_cast<std::size_t>(std::min<std::int64_t>(planned, 1 << 20)));
    } catch (const std::bad_alloc&) {
        return makeError(SpectrogramError::bufferCreationFailed);
    } catch (const std::length_error&) {
        return makeError(SpectrogramError::bufferCreationFailed);
    }

    const float levelOffset = -20.0f * std::log10(static_cast<float>(n));
    std::int64_t readPosition = 0;
    std::int64_t slices = 0;
    while (slices < planned) {
        const std::int64_t toRead = std::min(total - readPosition, chunk);
        if (toRead < n)
            break;
        if (Status sought = decoder.seek(static_cast<std::uint64_t>(readPosition)); !sought)
            return sought.error();
        auto read = decoder.read(static_cast<std::size_t>(toRead), *buffer);
        if (!read)
            return read.error();
        const std::span<const float> samples = buffer->channel(0);
        const auto delivered = static_cast<std::int64_t>(samples.size());
        std::int64_t offset = 0;
        for (; offset + n <= delivered && slices < planned; offset += hop) {
            fft_frame_power(processor->processor(), samples.data() + offset, power.data());
            std::vector<float>& row = data.magnitudes.emplace_back(power.size());
            for (std::size_t k = 0; k < power.size(); ++k)
                row[k] = 10.0f * std::log10(power[k] + 1e-10f) + levelOffset;
            ++slices;
            if (progress && slices % 20 == 0)
                progress(static_cast<double>(slices) / static_cast<double>(planned));
        }
        // A decoder that announced more than it holds: no row fits, so stop rather than
        // read the same position again.
        if (offset == 0)
            break;
        readPosition += offset;
    }
    if (progress)
        progress(1.0);
    data.sampleRate = decoder.sampleRate();
    data.fftSize = n;
    data.duration
        = data.sampleRate > 0 ? static_cast<double>(decoder.lengthInFrames()) / data.sampleRate : 0.0;
    return data;
}

} // namespace sondrel::core
