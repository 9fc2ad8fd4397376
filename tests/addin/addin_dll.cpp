#include "addin/addin_dll.h"

#include <stdexcept>

#include "common/app.h"
#include "forms/frmAddIn.h"
#include "support/custom_array.h"
#include "support/test_window.h"

namespace quarnel::test {

AddinDll::AddinDll(const std::wstring& folder, Loader loader) : path_(folder + L"\\Quarnel.dll") {
  const std::wstring source = AppPath() + L"\\Quarnel.dll";
  if (!CopyFileW(source.c_str(), path_.c_str(), FALSE)) {
    throw std::runtime_error("Quarnel.dll is not beside the test program");
  }
  if (loader == Loader::kLibrary) {
    module_.reset(LoadLibraryW(path_.c_str()));
    if (!module_) throw std::runtime_error("Quarnel.dll does not load");
    return;
  }
  wchar_t clsid[40] = {};
  StringFromGUID2(CLSID_Connect, clsid, 40);
  const std::wstring manifest = folder + L"\\Quarnel.manifest";
  WriteBytes(manifest, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                       "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
                       "  <assemblyIdentity type=\"win32\" name=\"Quarnel.Test\" version=\"1.0.0.0\"/>\r\n"
                       "  <file name=\"Quarnel.dll\">\r\n"
                       "    <comClass clsid=\"" + Utf8(clsid) + "\" threadingModel=\"Apartment\"/>\r\n"
                       "  </file>\r\n"
                       "</assembly>\r\n");
  ACTCTXW context{};
  context.cbSize = sizeof context;
  context.lpSource = manifest.c_str();
  HANDLE made = CreateActCtxW(&context);
  if (made != INVALID_HANDLE_VALUE) context_.reset(made);
  if (!context_) throw std::runtime_error("no activation context for Quarnel.dll");
}

AddinDll::~AddinDll() = default;

bool AddinDll::Loaded() const { return GetModuleHandleW(path_.c_str()) != nullptr; }

namespace {
// An export of the DLL as a function of type F; null when missing.
template <class F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}  // namespace

HRESULT AddinDll::GetClassObject(REFCLSID clsid, REFIID riid, void** out) const {
  if (context_) {
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context_.get(), &cookie)) return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, riid, out);
    DeactivateActCtx(0, cookie);
    return hr;
  }
  auto get = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(GetModuleHandleW(path_.c_str()),
                                                                         "DllGetClassObject");
  return get ? get(clsid, riid, out) : E_NOTIMPL;
}

HRESULT AddinDll::CanUnloadNow() const {
  HMODULE module = GetModuleHandleW(path_.c_str());
  if (!module) return S_OK;
  auto can = Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllCanUnloadNow");
  return can ? can() : E_NOTIMPL;
}

com_ptr<_IDTExtensibility2> AddinDll::Create() const {
  com_ptr<IClassFactory> factory;
  if (FAILED(GetClassObject(CLSID_Connect, IID_IClassFactory, &factory))) return {};
  com_ptr<_IDTExtensibility2> addin;
  factory->CreateInstance(nullptr, IID__IDTExtensibility2, &addin);
  return addin;
}

testing::AssertionResult IsFloppyPicture(const std::vector<std::uint32_t>& pixels) {
  if (pixels.size() != 256) return testing::AssertionFailure() << pixels.size() << " pixels";
  const COLORREF c = GetSysColor(COLOR_BTNFACE);
  const std::uint32_t face = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  struct Pixel {
    int x, y;
    std::uint32_t rgb;
  };
  const Pixel expected[] = {{0, 0, face},        {15, 0, face},       {0, 15, face},
                            {15, 15, face},      {7, 0, face},        {1, 1, 0x808080u},
                            {2, 2, 0xFF8000u},   {4, 2, 0xC0C0C0u},   {3, 8, 0xFFFF00u},
                            {4, 9, 0xFF0000u}};
  for (const Pixel& p : expected) {
    if (pixels[p.y * 16 + p.x] != p.rgb) {
      return testing::AssertionFailure() << "pixel (" << p.x << ", " << p.y << ") is " << std::hex
                                         << pixels[p.y * 16 + p.x] << ", not " << p.rgb;
    }
  }
  return testing::AssertionSuccess();
}

std::optional<std::wstring> ClipboardText() {
  if (!OpenClipboard(nullptr)) return std::nullopt;
  const auto close = scope_exit([] { CloseClipboard(); });
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (!text) return std::nullopt;
  std::wstring out = text;
  GlobalUnlock(data);
  return out;
}

void PutClipboardText(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(block);
  if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
  CloseClipboard();
}

std::optional<std::vector<std::uint32_t>> ClipboardPicture() {
  if (!OpenClipboard(nullptr)) return std::nullopt;
  const auto close = scope_exit([] { CloseClipboard(); });
  auto* bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  if (!bitmap) return std::nullopt;
  return Pixels(bitmap);
}

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Quarnel\\Settings";
}

std::optional<std::wstring> DisplayOnConnect() {
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"DisplayOnConnect", RRF_RT_ANY, &type, value,
                   &size) != ERROR_SUCCESS || type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(value);
}

void DeleteDisplayOnConnect() {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"DisplayOnConnect");
}

// Other test programs have forms of their own on the same display.
HWND FormWindow() { return FindOwnWindow(L"QuarnelDefaultFolderForm"); }

void AddinTest::SetUp() {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  DeleteDisplayOnConnect();
  dll = std::make_unique<AddinDll>(folder_.path(), loader_);
  ide = std::make_unique<standin::Ide>();
  driver = std::make_unique<DialogDriver>(std::vector<DialogStep>{});
  addin = dll->Create();
  ASSERT_NE(addin, nullptr);
}

void AddinTest::TearDown() {
  addin.Reset();
  ide.reset();
  EXPECT_EQ(standin::LiveObjects(), 0) << "the add-in kept a reference to the IDE's objects";
  EXPECT_EQ(dll->CanUnloadNow(), S_OK) << "after every object is released";
  EXPECT_TRUE(driver->Finish());
  dll.reset();
  CoUninitialize();
}

void AddinTest::Connect(_IDTExtensibility2* target, long mode) {
  CustomArray custom;
  EXPECT_EQ(target->OnConnection(ide->application().Get(), static_cast<ext_ConnectMode>(mode),
                                 ide->addin(L"Quarnel.Connect", L"Quarnel").Get(), &custom.array),
            S_OK);
}

void AddinTest::Disconnect(_IDTExtensibility2* target, long mode) {
  CustomArray custom;
  EXPECT_EQ(target->OnDisconnection(static_cast<ext_DisconnectMode>(mode), &custom.array), S_OK);
}

void AddinTest::ExitTheIde() {
  CustomArray custom;
  EXPECT_EQ(addin->OnBeginShutdown(&custom.array), S_OK);
  Disconnect(addin.Get());
  const standin::Leftovers left = ide->shut_down();
  EXPECT_TRUE(left.empty()) << Utf8(left.text());
  ide->clear_calls();
  addin.Reset();
  EXPECT_EQ(ide->transcript(), L"") << "called after the IDE shut down";
}

com_ptr<_Connect> AddinTest::AsConnect(IUnknown* object) {
  com_ptr<_Connect> connect;
  EXPECT_EQ(object->QueryInterface(IID__Connect, &connect), S_OK);
  return connect;
}

void AddinTest::ExpectDialogs(std::vector<DialogStep> steps) {
  EXPECT_TRUE(driver->Finish());
  driver = std::make_unique<DialogDriver>(std::move(steps));
}

}  // namespace quarnel::test
