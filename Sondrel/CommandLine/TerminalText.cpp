#include "TerminalText.h"

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <locale.h>

namespace sondrel::app {
namespace {

// The next code point of valid UTF-8 text, advancing `i`.
char32_t nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = static_cast<unsigned char>(text[i++]);
    int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    char32_t code = extra == 3 ? byte & 0x07u : extra == 2 ? byte & 0x0Fu : extra == 1 ? byte & 0x1Fu : byte;
    for (; extra > 0 && i < text.size(); --extra)
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    return code;
}

// wcwidth() needs a UTF-8 character type, whatever the process's own locale is.
class Utf8Locale {
public:
    Utf8Locale()
        : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr)))
    {
    }
    ~Utf8Locale()
    {
        if (m_locale != static_cast<locale_t>(nullptr))
            ::freelocale(m_locale);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

    [[nodiscard]] locale_t get() const noexcept { return m_locale; }

private:
    locale_t m_locale;
};

} // namespace

std::string TerminalText::escapedControls(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    char buffer[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
            escaped += buffer;
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
            && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(text[++i]));
            escaped += buffer;
        } else {
            escaped += text[i];
        }
    }
    return escaped;
}

std::size_t TerminalText::displayWidth(std::string_view text)
{
    static const Utf8Locale utf8;
    const locale_t previous = utf8.get() != static_cast<locale_t>(nullptr) ? ::uselocale(utf8.get())
                                                                           : static_cast<locale_t>(nullptr);
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t code = nextCodePoint(text, i);
        const int columns = ::wcwidth(static_cast<wchar_t>(code));
        // Unknown to the locale (or no UTF-8 locale at all): one column, as most terminals draw it.
        width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
    }
    if (previous != static_cast<locale_t>(nullptr))
        ::uselocale(previous);
    return width;
}

std::string TerminalText::padded(std::string text, std::size_t width)
{
    const std::size_t shown = displayWidth(text);
    if (shown < width)
        text.append(width - shown, ' ');
    return text;
}

} // namespace sondrel::app
