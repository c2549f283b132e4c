// Text between the component (UTF-8) and the Windows API (UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace cport {

std::wstring Utf8ToWide(std::string_view AText);
std::string WideToUtf8(std::wstring_view AText);

} // namespace cport
