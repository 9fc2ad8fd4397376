#pragma once
// The parts of the C++ runtime that Quarnel.dll keeps itself (runtime_size.cpp):
// each thread's exception state, in a TLS slot that DllMain makes and frees.

namespace quarnel {
// At the DLL's load (or at an exception in a static constructor, which comes
// first): false when no TLS slot can be had (the DLL then does not load).
bool RuntimeAttach() noexcept;
// As a thread ends: its exception state, if it has one, is freed.
void RuntimeThreadDetach() noexcept;
// At the DLL's unload: the calling thread's state and the slot are freed.
void RuntimeDetach() noexcept;
}  // namespace quarnel
