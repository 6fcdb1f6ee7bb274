#include "SpectrogramCommand.h"

#include "AtomicFile.h"
#include "SpectrogramGenerator.h"
#include "SpectrogramImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cerrno>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;

// The size the view uses: 4096-point frames, about 2000 time slices.
constexpr std::int64_t kFftSize = 4096;
constexpr std::int64_t kTimeSlices = 2000;

[[nodiscard]] std::string systemText(int code)
{
    return std::system_category().message(code);
}

// Whether both paths name one file, links followed.
[[nodiscard]] bool sameFile(const fs::path& a, const fs::path& b)
{
    struct stat first { };
    struct stat second { };
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

// 0 or the errno of the failing call. Never leaves the temporary file behind.
[[nodiscard]] int writeAtomically(const fs::path& target, const QByteArray& bytes, bool replace)
{
    auto file = AtomicFile::create(target, replace ? Placement::replace : Placement::keepExisting);
    if (!file)
        return file.error().value();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    std::error_code error = file->append(std::span(data, static_cast<std::size_t>(bytes.size())));
    if (!error)
        error = file->commit();
    return error.value();
}

} // namespace

int runSpectrogram(const SpectrogramOptions& options, std::ostream& out, std::ostream& err)
{
    const auto fail = [&](const std::string& why) {
        err << options.output.string() << ": " << why << '\n';
        return 1;
    };
    if (sameFile(options.file, options.output))
        return fail("is the input file");
    struct stat existing { };
    if (!options.force && ::lstat(options.output.c_str(), &existing) == 0)
        return fail("exists; use --force to replace it");

    const core::SpectrogramGenerator generator(kFftSize, kTimeSlices);
    auto data = generator.generate(options.file);
    if (!data) {
        err << options.file.string() << ": " << data.error().description << '\n';
        return 1;
    }
    const core::RgbaImage rgba = core::createSpectrogramImage(*data, options.width, options.height);
    // The pixels are opaque, so straight and premultiplied alpha are the same bytes.
    const QImage image(
        rgba.pixels.data(), rgba.width, rgba.height, rgba.width * 4, QImage::Format_RGBA8888_Premultiplied);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return fail("cannot encode the image");
    // Checked again: the output may have become the input while the spectrogram was computed.
    if (sameFile(options.file, options.output))
        return fail("is the input file");
    if (const int error = writeAtomically(options.output, png, options.force))
        return fail(
            error == EEXIST && !options.force ? "exists; use --force to replace it" : systemText(error));
    out << options.output.string() << '\n';
    return 0;
}

} // namespace sondrel::app
