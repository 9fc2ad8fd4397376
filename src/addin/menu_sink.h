#pragma once
// The sink of a command-bar event object: the IDE raises Click on it (the
// dispinterface of command-bar control events, DISPID 1) and it runs the click
// handler of its Connect. It holds its Connect by a plain pointer that the
// Connect clears before it goes, so a sink advised to an IDE object never keeps
// the Connect alive and no reference cycle forms.
#include <oaidl.h>

#include "addin/module.h"

namespace quarnel {

class Connect;

class MenuSink final : public IDispatch {
 public:
  enum class Command { kFile, kOptions };

  // A new sink with one reference, which the caller adopts.
  MenuSink(Connect* owner, Command command) noexcept : owner_(owner), command_(command) {}
  MenuSink(const MenuSink&) = delete;
  MenuSink& operator=(const MenuSink&) = delete;

  // The Connect is going: later clicks do nothing.
  void Orphan() noexcept { owner_ = nullptr; }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_error) override;

 private:
  ~MenuSink() = default;

  volatile LONG refs_ = 1;
  ModuleObject counted_;  // the IDE may hold a sink after its Connect went
  Connect* owner_;
  Command command_;
};

}  // namespace quarnel
