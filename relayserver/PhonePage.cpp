#include "PhonePage.h"

#include <map>

namespace tellwire {

const std::map<std::string, std::string_view>& embeddedFiles();

std::optional<PhoneAsset> phoneAsset(std::string_view path)
{
    if (path == "/")
        path = "/index.html";
    if (path.size() < 2 || path.front() != '/')
        return std::nullopt;
    const std::string name(path.substr(1));
    const auto& files = embeddedFiles();
    const auto file = files.find(name);
    if (file == files.end())
        return std::nullopt;
    static const std::map<std::string, std::string, std::less<>> types{
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
        {".webmanifest", "application/manifest+json"}};
    const auto dot = name.rfind('.');
    const auto type = dot == std::string::npos ? types.end() : types.find(name.substr(dot));
    return PhoneAsset{file->second, type == types.end() ? "application/octet-stream" : type->second};
}

} // namespace tellwire
