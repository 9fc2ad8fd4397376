#pragma once
// The add-in registration record: what the IDE needs to list and load the add-in
// (its registry key, display name, description, load behaviour...), kept in the
// DLL as data in the add-in designer's own layout. Registration reads the
// add-in's entry from it.
//
// Layout, little-endian: the designer's id (16-byte GUID); the size of the rest
// (32-bit, trailer included); the host registry key, display name and
// description (texts); the load behaviour (32-bit); the satellite-library name
// and the additional-data key (texts); command-line safe (32-bit); 12 zero
// bytes. A text is a 32-bit byte count and as many 8-bit characters, the last
// a NUL that the count includes; an empty text is a count of 0 and no bytes.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>

namespace quarnel {

struct AddinRecord {
  GUID designer_id{};
  std::string host_key;  // "HKEY_CURRENT_USER\Software\Microsoft\Visual Basic\6.0"
  std::string display_name;
  std::string description;
  std::uint32_t load_behavior = 0;
  std::string satellite_dll;
  std::string additional_data_key;
  std::uint32_t command_line_safe = 0;
};

// The add-in's own record, as bytes.
std::span<const std::uint8_t> AddinRecordBytes();

// Reads a record; throws quarnel::Error when the bytes do not hold one.
AddinRecord ParseAddinRecord(std::span<const std::uint8_t> bytes);

}  // namespace quarnel
