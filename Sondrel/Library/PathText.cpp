#include "PathText.h"

#include "AnalysisModel.h"
#include "JsonSupport.h"

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
    return core::json::validUtf8(component);
}

bool PathText::isHiddenName(const std::filesystem::path& name) noexcept
{
    const std::string& text = name.native();
    return !text.empty() && text.front() == '.';
}

bool PathText::hasSupportedExtension(const std::filesystem::path& name) noexcept
{
    // A name that is only ".x" has no extension.
    const std::string extension = name.filename().extension().string();
    return !extension.empty()
        && core::audioFormatFromExtension(std::string_view(extension).substr(1)).has_value();
}

} // namespace sondrel::app
