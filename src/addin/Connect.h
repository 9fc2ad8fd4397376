#pragma once
// Connect: the add-in's one creatable COM class. The IDE creates it and
// connects it through its add-in connection interface, which the class answers
// itself; at connection it sets up the settings store, the Default folder and
// the language, and puts the "Quarnel..." command into the File menu with its
// click wired to the project save command. Clients of its dual interface
// _Connect can also show and hide the Default-folder form and install an
// options command in the Tools menu.
//
//   com_ptr<_IDTExtensibility2> addin;   // from the class factory
//   addin->OnConnection(ide, ext_cm_Startup, instance, &custom);
//   ...
//   addin->OnDisconnection(ext_dm_HostShutdown, &custom);
#include <memory>
#include <string>

#include "Quarnel_h.h"
#include "ide/host.h"
#include "addin/menu_sink.h"
#include "addin/module.h"
#include "common/owners.h"
#include "forms/frmAddIn.h"

namespace quarnel {

namespace detail {

// The IDispatch of _Connect, driven by the DLL's own type library.
class ConnectDispatch : public _Connect {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_error) override;

 protected:
  ~ConnectDispatch() = default;

 private:
  HRESULT TypeInfo(ITypeInfo** info);
  com_ptr<ITypeInfo> type_info_;
};

// The IDispatch of the IDE's add-in connection interface. That interface
// belongs to the IDE's add-in designer library, which this DLL does not carry,
// so its five members are dispatched by their fixed DISPIDs 1 to 5.
class ExtensibilityDispatch : public _IDTExtensibility2 {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_error) override;

 protected:
  ~ExtensibilityDispatch() = default;
};

}  // namespace detail

class Connect final : public detail::ConnectDispatch, public detail::ExtensibilityDispatch {
 public:
  // A new instance, asked for `riid`.
  static HRESULT Create(REFIID riid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // _Connect
  STDMETHODIMP get_FormDisplayed(VARIANT_BOOL* value) override;
  STDMETHODIMP put_FormDisplayed(VARIANT_BOOL value) override;
  STDMETHODIMP get_VBInstance(::VBE** value) override;
  STDMETHODIMP putref_VBInstance(::VBE* value) override;
  STDMETHODIMP get_MenuHandlerAddin(_CommandBarControlEvents** value) override;
  STDMETHODIMP putref_MenuHandlerAddin(_CommandBarControlEvents* value) override;
  STDMETHODIMP get_MenuHandler(_CommandBarControlEvents** value) override;
  STDMETHODIMP putref_MenuHandler(_CommandBarControlEvents* value) override;
  STDMETHODIMP Hide() override;
  STDMETHODIMP Show() override;
  STDMETHODIMP AddToAddInCommandBar(BSTR* sCaption, ::CommandBarControl** result) override;
  STDMETHODIMP AddToFileCommandBar(BSTR* sCaption, ::CommandBarControl** result) override;

  // _IDTExtensibility2
  STDMETHODIMP OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode,
                            IDispatch* AddInInst, SAFEARRAY** custom) override;
  STDMETHODIMP OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY** custom) override;
  STDMETHODIMP OnStartupComplete(SAFEARRAY** custom) override;
  STDMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override;

  // The click handlers, run by the sinks of MenuHandler and MenuHandlerAddin.
  // A failure of the project save command reaches the IDE as the click's result.
  void MenuHandler_Click();
  void MenuHandlerAddin_Click();

 private:
  // The command-bar event source held in MenuHandler or MenuHandlerAddin, and
  // the sink advised to it.
  struct Handler {
    com_ptr<_CommandBarControlEvents> source;
    com_ptr<MenuSink> sink;
    host::EventConnection connection;
  };

  // What the form's Cancel button calls.
  struct FormLink final : FormOwner {
    explicit FormLink(Connect& c) : connect(c) {}
    void Hide() override { connect.HideForm(); }
    Connect& connect;
  };

  Connect();
  ~Connect();

  void AddinInstance_OnConnection(IDispatch* Application, long ConnectMode, IDispatch* AddInInst);
  void AddinInstance_OnDisconnection(long RemoveMode);
  void ShowForm();
  void HideForm();
  // This instance's own form, created on first use.
  frmAddIn& Form();
  // Unloads the form and lets it go; its Connect pointer goes with it.
  void DropForm();
  // Unadvises the click sinks and releases every object of the IDE it holds.
  void LetGoOfTheIde() noexcept;
  // The IDE begins to exit: a run of the add-in's dialogs going on is abandoned.
  static void TheIdeExits() noexcept;
  // Makes `value` (a command-bar event object, or null) the handler's event
  // source: the old one is unadvised, the new one advised to a sink of
  // `command`. "Type mismatch", with nothing changed, for an object that is none.
  void Retarget(Handler& handler, IUnknown* value, MenuSink::Command command);
  // The installers' common steps (each failing step is skipped).
  host::CommandBarControl InstallCommand(const wchar_t* bar_name, bool before_seventh,
                                         const std::wstring& caption);
  // Clears the clipboard and puts a copy of the button face on it.
  void PlaceFace();

  volatile LONG refs_ = 1;
  ModuleObject counted_;
  FormLink form_link_{*this};

  VARIANT_BOOL FormDisplayed = VARIANT_FALSE;
  host::VBE VBInstance;
  host::CommandBarControl FileCommandControl;
  std::unique_ptr<frmAddIn> AddInForm;
  Handler MenuHandlerAddin;
  Handler MenuHandler;
  std::wstring sInitFolder;
  // Whether the Default folder was read from the settings file since the connection.
  bool default_folder_read_ = false;
  // The button face and the clipboard's owner (a message-only window), made at
  // the first install and kept while this instance lives: drawing the face
  // needs no form, and no window is made at every connection.
  unique_hbitmap face_;
  unique_hwnd clipboard_owner_;
};

}  // namespace quarnel
