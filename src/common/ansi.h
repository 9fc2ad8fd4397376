#pragma once
// Conversions at the boundary to the platform's 8-bit ("A") functions, which
// take text in the system's ANSI code page. Everything else holds wide text.
#include <string>
#include <string_view>

namespace quarnel {

// Wide to ANSI; a character the code page lacks becomes the code page's
// default character ("?"), as a Visual Basic Declare call would pass it.
std::string ToAnsi(std::wstring_view text);

// How many bytes ToAnsi(text) has.
size_t AnsiLength(std::wstring_view text);

// ANSI to wide.
std::wstring FromAnsi(std::string_view text);

}  // namespace quarnel
