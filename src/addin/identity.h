#pragma once
// The add-in's COM identity.
#include <windows.h>

namespace quarnel {

inline constexpr wchar_t kProgId[] = L"Quarnel.Connect";

// The type library "Quarnel" 1.0.
inline constexpr GUID LIBID_Quarnel = {0xD6C1C353, 0xBB8B, 0x4E84,
                                       {0x9B, 0x09, 0xB2, 0x5D, 0xBB, 0x38, 0x92, 0x05}};
// The class Connect.
inline constexpr CLSID CLSID_Connect = {0xB49DBFBD, 0xABE8, 0x493A,
                                        {0xA1, 0x1E, 0xD4, 0xD2, 0xD3, 0x8D, 0xD7, 0xA6}};
// Its default interface, _Connect.
inline constexpr IID IID__Connect = {0x194B1080, 0x1712, 0x41FF,
                                     {0x87, 0x91, 0xB5, 0x41, 0xF9, 0x97, 0x73, 0x06}};

}  // namespace quarnel
