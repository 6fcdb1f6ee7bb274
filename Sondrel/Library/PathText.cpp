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

bool PathText::isHiddenName(std::string_view name) noexcept
{
    return !name.empty() && name.front() == '.';
}

bool PathText::hasSupportedExtension(std::string_view name) noexcept
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return false;
    return core::audioFormatFromExtension(name.substr(dot + 1)).has_value();
}

} // namespace sondrel::app
