#include "Symbols.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

namespace sondrel::ui {
namespace {

constexpr Symbol kLastSymbol = Symbol::pencil;

int paintedPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return count;
}

TEST(SymbolsTest, EverySymbolDrawsSomethingAtSmallAndLargeSizes)
{
    for (int index = 0; index <= static_cast<int>(kLastSymbol); ++index) {
        const auto symbol = static_cast<Symbol>(index);
        for (int size : { 12, 96 }) {
            const QImage image = drawnSymbolIcon(symbol).pixmap(size, size).toImage();
            ASSERT_EQ(image.width(), size);
            EXPECT_GT(paintedPixels(image), size * size / 40) << "symbol " << index << " at " << size;
        }
    }
}

TEST(SymbolsTest, StatusSymbolsAreDrawnInTheirOwnColourOrTheTint)
{
    // The centre of a filled circle's disc, clear of its mark, carries the colour.
    const QImage passed = symbolIcon(Symbol::checkmarkCircleFill).pixmap(96, 96).toImage();
    EXPECT_EQ(passed.pixelColor(48, 12).rgb(), palette::green.rgb());
    const QImage failed = symbolIcon(Symbol::xmarkCircleFill).pixmap(96, 96).toImage();
    EXPECT_EQ(failed.pixelColor(48, 12).rgb(), palette::red.rgb());
    const QImage tinted = symbolIcon(Symbol::exclamationmarkCircleFill, palette::yellow).pixmap(96, 96).toImage();
    EXPECT_EQ(tinted.pixelColor(24, 48).rgb(), palette::yellow.rgb());
    EXPECT_TRUE(isStatusSymbol(Symbol::waveformBadgeExclamationmark));
    EXPECT_STREQ(themeIconName(Symbol::checkmarkCircleFill), "");
}

TEST(SymbolsTest, ThemedSymbolsFallBackToTheDrawnFormWithoutATheme)
{
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    const QIcon icon = symbolIcon(Symbol::arrowClockwise);
    EXPECT_GT(paintedPixels(icon.pixmap(32, 32).toImage()), 20);
}

} // namespace
} // namespace sondrel::ui
