#include "addin/module.h"

#include <windows.h>

namespace quarnel {
namespace {
volatile LONG module_count = 0;
}  // namespace

void ModuleAddRef() noexcept { InterlockedIncrement(&module_count); }
void ModuleRelease() noexcept { InterlockedDecrement(&module_count); }
long ModuleCount() noexcept { return InterlockedCompareExchange(&module_count, 0, 0); }

}  // namespace quarnel
