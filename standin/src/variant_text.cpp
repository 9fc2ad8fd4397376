#include "variant_text.h"

#include <cstdio>

#include "automation.h"
#include "typelibs.h"

namespace standin::detail {
namespace {

std::wstring Number(double value, const wchar_t* suffix) {
  wchar_t text[64];
  swprintf(text, 64, L"%.15g%ls", value, suffix);
  return text;
}

std::wstring ObjectText(IUnknown* object) {
  if (!object) return L"Nothing";
  if (const InterfaceType* type = TypeOfObject(object)) return L"<" + type->name() + L">";
  return L"<Object>";
}

}  // namespace

std::wstring Quote(std::wstring_view text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    out += c;
    if (c == L'"') out += c;
  }
  return out + L"\"";
}

std::wstring VariantText(const VARIANT& value) {
  const VARTYPE vt = V_VT(&value);
  if (vt & VT_ARRAY) return L"<Array>";
  if (vt & VT_BYREF) {
    VARIANT inner;
    VariantInit(&inner);
    if (vt == (VT_BYREF | VT_VARIANT)) return V_VARIANTREF(&value) ? VariantText(*V_VARIANTREF(&value)) : L"<null>";
    if (FAILED(VariantCopyInd(&inner, const_cast<VARIANT*>(&value)))) return L"<ByRef>";
    std::wstring text = L"ByRef " + VariantText(inner);
    VariantClear(&inner);
    return text;
  }
  switch (vt) {
    case VT_EMPTY: return L"Empty";
    case VT_NULL: return L"Null";
    case VT_I2: return std::to_wstring(V_I2(&value)) + L"%";
    case VT_I4: return std::to_wstring(V_I4(&value)) + L"&";
    case VT_INT: return std::to_wstring(V_INT(&value)) + L"&";
    case VT_UI1: return L"CByte(" + std::to_wstring(V_UI1(&value)) + L")";
    case VT_R4: return Number(V_R4(&value), L"!");
    case VT_R8: return Number(V_R8(&value), L"#");
    case VT_CY: return Number(static_cast<double>(V_CY(&value).int64) / 10000.0, L"@");
    case VT_BOOL: return V_BOOL(&value) ? L"True" : L"False";
    case VT_BSTR: return Quote(V_BSTR(&value) ? std::wstring_view(V_BSTR(&value), SysStringLen(V_BSTR(&value)))
                                              : std::wstring_view());
    case VT_DISPATCH: return ObjectText(V_DISPATCH(&value));
    case VT_UNKNOWN: return ObjectText(V_UNKNOWN(&value));
    case VT_ERROR:
      if (V_ERROR(&value) == DISP_E_PARAMNOTFOUND) return L"<missing>";
      return Number(static_cast<double>(static_cast<unsigned long>(V_ERROR(&value))), L"") + L" (Error)";
    default: {
      VARIANT text;
      VariantInit(&text);
      std::wstring out = L"<vt " + std::to_wstring(vt) + L">";
      if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) out = V_BSTR(&text) ? V_BSTR(&text) : L"";
      VariantClear(&text);
      return out;
    }
  }
}

std::wstring DispParamsText(const DISPPARAMS* params, const Member* member) {
  if (!params) return {};
  std::wstring out;
  auto add = [&](std::wstring part) {
    if (!out.empty()) out += L", ";
    out += part;
  };
  const UINT named = params->cNamedArgs;
  for (UINT i = params->cArgs; i > named; --i) add(VariantText(params->rgvarg[i - 1]));
  for (UINT i = 0; i < named && i < params->cArgs; ++i) {
    const DISPID id = params->rgdispidNamedArgs[i];
    if (id == DISPID_PROPERTYPUT) {
      add(VariantText(params->rgvarg[i]));
    } else if (member && id >= 0 && static_cast<size_t>(id) < member->params.size()) {
      add(member->params[id] + L":=" + VariantText(params->rgvarg[i]));
    } else {
      add(L"#" + std::to_wstring(id) + L":=" + VariantText(params->rgvarg[i]));
    }
  }
  return out;
}

}  // namespace standin::detail
