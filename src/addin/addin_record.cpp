#include "addin/addin_record.h"

#include <array>
#include <string_view>

#include "common/error.h"

namespace quarnel {
namespace {

constexpr GUID kDesignerId = {0xAC0714F7, 0x3D04, 0x11D1,
                              {0xAE, 0x7D, 0x00, 0xA0, 0xC9, 0x0F, 0x26, 0xF4}};
constexpr std::string_view kHostKey = "HKEY_CURRENT_USER\\Software\\Microsoft\\Visual Basic\\6.0";
constexpr std::string_view kDisplayName = "Orv Quarnel...";
constexpr std::string_view kDescription =
    "Allows you to save a new project to another location (instead of C:\\Program "
    "Files\\Microsoft Visual Studio\\VB98...) starting from a your custom folder";
constexpr std::uint32_t kLoadAtStartup = 1;
constexpr std::string_view kSatelliteDll = "orvQuarnel";
constexpr std::string_view kAdditionalDataKey = "";
constexpr std::uint32_t kCommandLineSafe = 1;
constexpr std::size_t kTrailer = 12;

constexpr std::size_t TextSize(std::string_view text) {
  return 4 + (text.empty() ? 0 : text.size() + 1);
}

constexpr std::size_t kBodySize = TextSize(kHostKey) + TextSize(kDisplayName) +
                                  TextSize(kDescription) + 4 + TextSize(kSatelliteDll) +
                                  TextSize(kAdditionalDataKey) + 4 + kTrailer;
constexpr std::size_t kRecordSize = 16 + 4 + kBodySize;

class Writer {
 public:
  constexpr explicit Writer(std::array<std::uint8_t, kRecordSize>& out) : out_(out) {}
  constexpr void U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out_[at_++] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  constexpr void U16(std::uint16_t value) {
    out_[at_++] = static_cast<std::uint8_t>(value);
    out_[at_++] = static_cast<std::uint8_t>(value >> 8);
  }
  constexpr void Guid(const GUID& id) {
    U32(id.Data1);
    U16(id.Data2);
    U16(id.Data3);
    for (std::uint8_t b : id.Data4) out_[at_++] = b;
  }
  constexpr void Text(std::string_view text) {
    if (text.empty()) return U32(0);
    U32(static_cast<std::uint32_t>(text.size() + 1));
    for (char c : text) out_[at_++] = static_cast<std::uint8_t>(c);
    out_[at_++] = 0;
  }
  constexpr void Zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out_[at_++] = 0;
  }

 private:
  std::array<std::uint8_t, kRecordSize>& out_;
  std::size_t at_ = 0;
};

constexpr std::array<std::uint8_t, kRecordSize> BuildRecord() {
  std::array<std::uint8_t, kRecordSize> bytes{};
  Writer w(bytes);
  w.Guid(kDesignerId);
  w.U32(static_cast<std::uint32_t>(kBodySize));
  w.Text(kHostKey);
  w.Text(kDisplayName);
  w.Text(kDescription);
  w.U32(kLoadAtStartup);
  w.Text(kSatelliteDll);
  w.Text(kAdditionalDataKey);
  w.U32(kCommandLineSafe);
  w.Zeros(kTrailer);
  return bytes;
}

constexpr std::array<std::uint8_t, kRecordSize> kRecord = BuildRecord();

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint32_t U32() {
    Need(4);
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes_[at_++]} << (8 * i);
    return value;
  }
  GUID Guid() {
    GUID id{};
    id.Data1 = U32();
    Need(12);
    id.Data2 = static_cast<std::uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
    id.Data3 = static_cast<std::uint16_t>(bytes_[at_ + 2] | bytes_[at_ + 3] << 8);
    at_ += 4;
    for (std::uint8_t& b : id.Data4) b = bytes_[at_++];
    return id;
  }
  std::string Text() {
    const std::uint32_t count = U32();
    if (count == 0) return {};
    Need(count);
    if (bytes_[at_ + count - 1] != 0) throw Bad();
    std::string text(reinterpret_cast<const char*>(&bytes_[at_]), count - 1);
    at_ += count;
    return text;
  }
  void Zeros(std::size_t n) {
    Need(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (bytes_[at_++] != 0) throw Bad();
    }
  }
  std::size_t at() const { return at_; }

 private:
  static Error Bad() { return Error(E_INVALIDARG, L"The add-in registration record is damaged"); }
  void Need(std::size_t n) const {
    if (bytes_.size() - at_ < n) throw Bad();
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace

std::span<const std::uint8_t> AddinRecordBytes() { return kRecord; }

AddinRecord ParseAddinRecord(std::span<const std::uint8_t> bytes) {
  Reader in(bytes);
  AddinRecord record;
  record.designer_id = in.Guid();
  const std::uint32_t body = in.U32();
  const std::size_t body_start = in.at();
  record.host_key = in.Text();
  record.display_name = in.Text();
  record.description = in.Text();
  record.load_behavior = in.U32();
  record.satellite_dll = in.Text();
  record.additional_data_key = in.Text();
  record.command_line_safe = in.U32();
  in.Zeros(kTrailer);
  if (in.at() - body_start != body || in.at() != bytes.size()) {
    throw Error(E_INVALIDARG, L"The add-in registration record is damaged");
  }
  return record;
}

}  // namespace quarnel
