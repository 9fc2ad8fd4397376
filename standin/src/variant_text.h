#pragma once
// Arguments as text, for the record of calls: strings quoted, 16-bit integers
// with "%", 32-bit ones with "&" (the type suffixes of Visual Basic), objects by
// their interface name.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

namespace standin::detail {

struct Member;

std::wstring VariantText(const VARIANT& value);
std::wstring Quote(std::wstring_view text);
// The arguments of an Invoke in the caller's order: positional ones first, then
// named ones as Name:=value (their names from `member`, when known).
std::wstring DispParamsText(const DISPPARAMS* params, const Member* member);

}  // namespace standin::detail
