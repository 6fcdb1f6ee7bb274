#include "PathText.h"

#include "AnalysisModel.h"

#include <QString>

#include <algorithm>

namespace sondrel::app {

std::string PathText::lastPathComponent(const std::filesystem::path& location)
{
    std::string text = location.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const std::size_t slash = text.rfind('/');
    std::string component = slash == std::string::npos ? text : text.substr(slash + 1);
    if (component.empty())
        component = text;
    return QString::fromUtf8(component.data(), static_cast<qsizetype>(component.size())).toStdString();
}

bool PathText::isHiddenName(const std::filesystem::path& name) noexcept
{
    const std::string& text = name.native();
    return !text.empty() && text.front() == '.';
}

bool PathText::hasSupportedExtension(const std::filesystem::path& name) noexcept
{
    const std::string& text = name.native();
    const std::size_t dot = text.rfind('.');
    const std::size_t slash = text.rfind('/');
    // No extension without a dot inside the last component, and none for a name that is only ".x".
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == text.size())
        return false;
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (dot == start)
        return false;

    const std::string_view extension(text.data() + dot + 1, text.size() - dot - 1);
    const auto& supported = core::supportedExtensions();
    return std::any_of(supported.begin(), supported.end(), [extension](std::string_view candidate) {
        if (candidate.size() != extension.size())
            return false;
        // ASCII-only folding: the supported names are ASCII, and other bytes must not match.
        for (std::size_t i = 0; i < candidate.size(); ++i) {
            char letter = extension[i];
            if (letter >= 'A' && letter <= 'Z')
                letter = static_cast<char>(letter - 'A' + 'a');
            if (letter != candidate[i])
                return false;
        }
        return true;
    });
}

} // namespace sondrel::app
