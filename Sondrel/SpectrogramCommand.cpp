#include "SpectrogramCommand.h"

#include "SpectrogramGenerator.h"
#include "SpectrogramImage.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <ostream>

namespace sondrel::app {
namespace {

// The size the view uses: 4096-point frames, about 2000 time slices.
constexpr std::int64_t kFftSize = 4096;
constexpr std::int64_t kTimeSlices = 2000;

} // namespace

int runSpectrogram(const SpectrogramOptions& options, std::ostream& out, std::ostream& err)
{
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
    const QString path = QFile::decodeName(QByteArray::fromStdString(options.output.string()));
    if (!image.save(path, "PNG")) {
        err << options.output.string() << ": cannot write the image\n";
        return 1;
    }
    out << options.output.string() << '\n';
    return 0;
}

} // namespace sondrel::app
