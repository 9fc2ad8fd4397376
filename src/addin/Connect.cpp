#include "addin/Connect.h"

#include <new>

#include "addin/per_user_setting.h"
#include "common/app.h"
#include "common/barrier.h"
#include "common/error.h"
#include "common/later_windows.h"
#include "texts/modAddin.h"
#include "save/project_save.h"
#include "shell/dialogs.h"

namespace quarnel {
namespace {

constexpr wchar_t kSettingsFile[] = L"Quarnel.ini";
constexpr wchar_t kSettingsSection[] = L"FOLDER";
constexpr wchar_t kDefaultFolderKey[] = L"DefaultFolder";

// Connect instances alive in this module. When the last one goes, the shared
// form (loaded by the save command as an owner window) is unloaded too, so that
// no window of the module outlives every object of it.
int live_connects = 0;

// The member names of the connection interface, each with its arguments', as
// GetIDsOfNames hands them out: the member's DISPID, then the arguments by
// position (which is how DispGetParam finds a named argument).
struct ExtensibilityMember {
  const wchar_t* name;
  DISPID id;
  const wchar_t* args[4];
};
constexpr ExtensibilityMember kExtensibilityMembers[] = {
    {L"OnConnection", 1, {L"Application", L"ConnectMode", L"AddInInst", L"custom"}},
    {L"OnDisconnection", 2, {L"RemoveMode", L"custom"}},
    {L"OnAddInsUpdate", 3, {L"custom"}},
    {L"OnStartupComplete", 4, {L"custom"}},
    {L"OnBeginShutdown", 5, {L"custom"}},
};

bool SameName(const wchar_t* a, const wchar_t* b) {
  return a && b && SameNoCase(a, b);
}

}  // namespace

// --- IDispatch of _Connect --------------------------------------------------------

HRESULT detail::ConnectDispatch::TypeInfo(ITypeInfo** info) {
  return Barrier([&] {
    if (!type_info_) {
      com_ptr<ITypeLib> library;
      ThrowIfFailed(LoadTypeLibEx(AppFileName().c_str(), REGKIND_NONE, &library),
                    L"The type library cannot be loaded");
      ThrowIfFailed(library->GetTypeInfoOfGuid(IID__Connect, &type_info_),
                    L"The type library does not describe _Connect");
    }
    *info = type_info_.Get();
    (*info)->AddRef();
    return S_OK;
  });
}

STDMETHODIMP detail::ConnectDispatch::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP detail::ConnectDispatch::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return TypeInfo(info);
}

STDMETHODIMP detail::ConnectDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                    DISPID* ids) {
  com_ptr<ITypeInfo> info;
  const HRESULT hr = TypeInfo(&info);
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP detail::ConnectDispatch::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* excepinfo, UINT* arg_error) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  com_ptr<ITypeInfo> info;
  const HRESULT hr = TypeInfo(&info);
  if (FAILED(hr)) return hr;
  return DispInvoke(static_cast<_Connect*>(this), info.Get(), id, flags, params, result, excepinfo,
                    arg_error);
}

// --- IDispatch of the connection interface -------------------------------------------

STDMETHODIMP detail::ExtensibilityDispatch::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP detail::ExtensibilityDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP detail::ExtensibilityDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count,
                                                          LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (count == 0) return S_OK;
  const ExtensibilityMember* member = nullptr;
  for (const auto& m : kExtensibilityMembers) {
    if (SameName(names[0], m.name)) member = &m;
  }
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (DISPID position = 0; position < 4; ++position) {
      if (SameName(names[i], member->args[position])) ids[i] = position;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP detail::ExtensibilityDispatch::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                                   DISPPARAMS* params, VARIANT* result,
                                                   EXCEPINFO*, UINT* arg_error) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!(flags & DISPATCH_METHOD) || id < 1 || id > 5) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (result) VariantInit(result);
  // The `custom` arrays are not used by this add-in and are not read.
  switch (id) {
    case 1: {
      unique_variant application, mode, instance;
      HRESULT hr = DispGetParam(params, 0, VT_DISPATCH, application.get(), arg_error);
      if (SUCCEEDED(hr)) hr = DispGetParam(params, 1, VT_I4, mode.get(), arg_error);
      if (FAILED(hr)) return hr;
      // The add-in instance is only held during the call: a caller may leave it out.
      if (FAILED(DispGetParam(params, 2, VT_DISPATCH, instance.get(), nullptr))) instance.put();
      return OnConnection(V_DISPATCH(application.get()),
                          static_cast<ext_ConnectMode>(V_I4(mode.get())),
                          instance->vt == VT_DISPATCH ? V_DISPATCH(instance.get()) : nullptr,
                          nullptr);
    }
    case 2: {
      unique_variant mode;
      const HRESULT hr = DispGetParam(params, 0, VT_I4, mode.get(), arg_error);
      if (FAILED(hr)) return hr;
      return OnDisconnection(static_cast<ext_DisconnectMode>(V_I4(mode.get())), nullptr);
    }
    default:
      return S_OK;  // the other notifications do nothing
  }
}

// --- Creation and IUnknown ------------------------------------------------------------

Connect::Connect() { ++live_connects; }

Connect::~Connect() {
  // Released without a disconnection: nothing of the IDE may be kept.
  LetGoOfTheIde();
  DropForm();
  if (--live_connects == 0) SkipFailure([] { frmAddIn::Default().Unload(); });
}

HRESULT Connect::Create(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Barrier([&] {
    com_ptr<Connect> connect;
    *connect.GetAddressOf() = new Connect();  // adopts the first reference
    return connect->QueryInterface(riid, out);
  });
}

STDMETHODIMP Connect::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, IID__Connect)) {
    *out = static_cast<_Connect*>(this);
  } else if (IsEqualIID(riid, IID__IDTExtensibility2)) {
    *out = static_cast<_IDTExtensibility2*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Connect::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) Connect::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// --- The connection interface ---------------------------------------------------------

STDMETHODIMP Connect::OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode,
                                   IDispatch* AddInInst, SAFEARRAY**) {
  // The handler shows its own failures; none goes back to the host.
  Barrier([&] {
    AddinInstance_OnConnection(Application, ConnectMode, AddInInst);
    return S_OK;
  });
  return S_OK;
}

STDMETHODIMP Connect::OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY**) {
  Barrier([&] {
    AddinInstance_OnDisconnection(RemoveMode);
    return S_OK;
  });
  return S_OK;
}

STDMETHODIMP Connect::OnAddInsUpdate(SAFEARRAY**) { return S_OK; }
STDMETHODIMP Connect::OnStartupComplete(SAFEARRAY**) { return S_OK; }
STDMETHODIMP Connect::OnBeginShutdown(SAFEARRAY**) {
  TheIdeExits();
  return S_OK;
}

void Connect::TheIdeExits() noexcept {
  // The IDE's exit may come while a dialog of the add-in is open (the
  // browsers belong to the add-in's hidden form, so the IDE's window stays
  // usable): that command lets go of the IDE now and does nothing more, and
  // the dialog goes as if cancelled as soon as its loop runs again, after the
  // IDE's call returns.
  if (DialogRun::Abandon()) SkipFailure([] { frmAddIn::CancelDialogs(); });
}

void Connect::AddinInstance_OnConnection(IDispatch* Application, long ConnectMode,
                                         IDispatch* AddInInst) {
  // Held for the duration of the call.
  const com_ptr<IDispatch> application(Application);
  const com_ptr<IDispatch> instance(AddInInst);
  std::wstring failure;
  try {
    oIni = std::make_unique<CIniManag>();
    oIni->put_FileName(AppPath() + L"\\" + kSettingsFile);
    oIni->put_SectionName(kSettingsSection);
    // The Default folder is read when it is first needed (the form's Browse;
    // the save command reads it afresh at every click), not at every connection.
    default_folder_read_ = false;
    ChooseLanguage();
    VBInstance = host::VBE::FromApplication(application.Get());
    if (ConnectMode == ext_cm_External) {
      ShowForm();
    } else {
      FileCommandControl = InstallCommand(L"File", true, sMenuCaption);
      const com_ptr<IUnknown> events = VBInstance.Events().CommandBarEvents(FileCommandControl.get());
      Retarget(MenuHandler, events.Get(), MenuSink::Command::kFile);
    }
    return;
  } catch (const Error& error) {
    failure = error.description();
  } catch (const std::bad_alloc&) {
    failure = Error::Vb(7).description();
  } catch (...) {
    failure = Error::FromHResult(E_UNEXPECTED).description();
  }
  CurrentDialogs().Message(nullptr, failure, kAppTitle, MB_OK | MB_SETFOREGROUND);
}

void Connect::AddinInstance_OnDisconnection(long RemoveMode) {
  // Unloaded through the Add-In Manager, the IDE stays: a click in the middle
  // of its dialogs still completes. At the IDE's exit, it ends there.
  if (RemoveMode == ext_dm_HostShutdown) TheIdeExits();
  // Whatever fails below, nothing of the IDE is held afterwards: at the IDE's
  // exit its objects are dead once the add-ins are disconnected.
  const auto let_go = scope_exit([&] { LetGoOfTheIde(); });
  // After an external connection there is no command: Delete on nothing fails
  // and is skipped like any other failing step.
  SkipFailure([&] { FileCommandControl.Delete(); });
  if (FormDisplayed) {
    SkipFailure([] { SaveSetting(kAppTitle, L"Settings", L"DisplayOnConnect", L"1"); });
    FormDisplayed = VARIANT_FALSE;
  } else {
    SkipFailure([] { SaveSetting(kAppTitle, L"Settings", L"DisplayOnConnect", L"0"); });
  }
  // Unloads the form; one whose Browse or OK dialog is open goes when that closes.
  DropForm();
}

void Connect::LetGoOfTheIde() noexcept {
  // The sinks go first: no click may reach this instance from now on.
  for (Handler* handler : {&MenuHandler, &MenuHandlerAddin}) {
    handler->connection.Disconnect();
    if (handler->sink) handler->sink->Orphan();
    handler->sink.Reset();
    handler->source.Reset();
  }
  FileCommandControl = host::CommandBarControl();
  VBInstance = host::VBE();
}

// --- Show and Hide ------------------------------------------------------------------

void Connect::ShowForm() {
  if (!default_folder_read_ && oIni) {
    SkipFailure([&] { sDefaultFolder = oIni->IniRead(kDefaultFolderKey, L""); });
    default_folder_read_ = true;
  }
  SkipFailure([&] { Form().VBInstance = VBInstance; });
  SkipFailure([&] { Form().Connect = &form_link_; });
  FormDisplayed = VARIANT_TRUE;
  SkipFailure([&] { Form().Show(); });
}

void Connect::HideForm() {
  FormDisplayed = VARIANT_FALSE;
  SkipFailure([&] { Form().Hide(); });
}

frmAddIn& Connect::Form() {
  if (!AddInForm) AddInForm = std::make_unique<frmAddIn>();
  return *AddInForm;
}

void Connect::DropForm() {
  if (!AddInForm) return;
  AddInForm->Connect = nullptr;
  AddInForm->VBInstance = host::VBE();
  frmAddIn::Release(std::move(AddInForm));  // unloads it, now or when its dialog closes
}

// --- Click handlers -----------------------------------------------------------------

void Connect::MenuHandler_Click() { ProjectSaveCommand(VBInstance, sInitFolder); }

void Connect::MenuHandlerAddin_Click() { ShowForm(); }

// --- Event sources ----------------------------------------------------------------

void Connect::Retarget(Handler& handler, IUnknown* value, MenuSink::Command command) {
  // Whatever the value came as (an IDispatch, a bare IUnknown), only its default
  // interface is kept.
  const com_ptr<IUnknown> events = host::AsCommandBarEvents(value);
  auto* source = static_cast<_CommandBarControlEvents*>(events.Get());
  com_ptr<MenuSink> sink;
  host::EventConnection connection;
  if (source) {
    *sink.GetAddressOf() = new MenuSink(this, command);
    connection = host::EventConnection(source, host::DIID_dispCommandBarControlEvents, sink.Get());
  }
  handler.connection.Disconnect();
  if (handler.sink) handler.sink->Orphan();
  handler.source = source;
  handler.sink = std::move(sink);
  handler.connection = std::move(connection);
}

// --- _Connect -----------------------------------------------------------------------

STDMETHODIMP Connect::get_FormDisplayed(VARIANT_BOOL* value) {
  if (!value) return E_POINTER;
  *value = FormDisplayed;
  return S_OK;
}

STDMETHODIMP Connect::put_FormDisplayed(VARIANT_BOOL value) {
  FormDisplayed = value;
  return S_OK;
}

STDMETHODIMP Connect::get_VBInstance(::VBE** value) {
  if (!value) return E_POINTER;
  *value = reinterpret_cast<::VBE*>(VBInstance.get());
  if (*value) (*value)->AddRef();
  return S_OK;
}

STDMETHODIMP Connect::putref_VBInstance(::VBE* value) {
  return Barrier([&] {
    VBInstance = value ? host::VBE::FromApplication(value) : host::VBE();
    return S_OK;
  });
}

STDMETHODIMP Connect::get_MenuHandlerAddin(_CommandBarControlEvents** value) {
  if (!value) return E_POINTER;
  return MenuHandlerAddin.source.CopyTo(value);
}

STDMETHODIMP Connect::putref_MenuHandlerAddin(_CommandBarControlEvents* value) {
  return Barrier([&] {
    Retarget(MenuHandlerAddin, value, MenuSink::Command::kOptions);
    return S_OK;
  });
}

STDMETHODIMP Connect::get_MenuHandler(_CommandBarControlEvents** value) {
  if (!value) return E_POINTER;
  return MenuHandler.source.CopyTo(value);
}

STDMETHODIMP Connect::putref_MenuHandler(_CommandBarControlEvents* value) {
  return Barrier([&] {
    Retarget(MenuHandler, value, MenuSink::Command::kFile);
    return S_OK;
  });
}

STDMETHODIMP Connect::Hide() {
  return Barrier([&] {
    HideForm();
    return S_OK;
  });
}

STDMETHODIMP Connect::Show() {
  return Barrier([&] {
    ShowForm();
    return S_OK;
  });
}

STDMETHODIMP Connect::AddToAddInCommandBar(BSTR*, ::CommandBarControl** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Barrier([&] {
    // The caption passed in is not used: the options command has its own.
    const host::CommandBarControl control = InstallCommand(L"Tools", false, L"Quarnel options...");
    *result = reinterpret_cast<::CommandBarControl*>(control.get());
    if (*result) (*result)->AddRef();
    return S_OK;
  });
}

STDMETHODIMP Connect::AddToFileCommandBar(BSTR* sCaption, ::CommandBarControl** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Barrier([&] {
    const std::wstring caption =
        sCaption && *sCaption ? std::wstring(*sCaption, SysStringLen(*sCaption)) : std::wstring();
    const host::CommandBarControl control = InstallCommand(L"File", true, caption);
    *result = reinterpret_cast<::CommandBarControl*>(control.get());
    if (*result) (*result)->AddRef();
    return S_OK;
  });
}

}  // namespace quarnel
