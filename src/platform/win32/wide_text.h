// Inside the program every path and message is UTF-8; the system's W calls
// take and give UTF-16. These convert at the edge, so that a path works
// whatever its characters, independent of the system's ANSI code page.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

// Bytes that are not UTF-8 become U+FFFD.
inline std::wstring Utf16(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 0, L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

// A lone surrogate (a name no keyboard types) becomes U+FFFD.
inline std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// A path as the system's file calls take it. One of MAX_PATH units or more
// reaches them only behind "\\?\", which hands the path on as it stands:
// the tool's paths are full and normalised by then.
inline std::wstring SystemPath(std::string_view utf8) {
    std::wstring wide = Utf16(utf8);
    if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC" + wide.substr(1);
    return wide;
}

}  // namespace platform
