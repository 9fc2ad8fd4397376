#pragma once
// The server's one module count: every live object of the DLL (each Connect,
// each class factory handed out) and every class-factory lock. The DLL may be
// unloaded only when it is zero and no window of the add-in's forms exists.
namespace quarnel {

void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleCount() noexcept;

// Counts one object for as long as it lives.
class ModuleObject {
 public:
  ModuleObject() noexcept { ModuleAddRef(); }
  ~ModuleObject() { ModuleRelease(); }
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
};

}  // namespace quarnel
