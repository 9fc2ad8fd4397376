#pragma once
// The project save command: what a click on the add-in's File-menu command does.
// It makes sure a Default folder is stored (asking the user on first use), then
// saves the active project's changed components and the project file into a
// folder the user picks, through the IDE's own save operations.
#include <string>

#include "ide/host.h"

namespace quarnel {

// Runs the command for the IDE `VBInstance`; `sInitFolder` is the Connect's
// initial folder for the picker. It catches nothing: a failing host call ends it
// there and reaches the caller as quarnel::Error with the host's description
// (files written before stay written).
void ProjectSaveCommand(const host::VBE& VBInstance, std::wstring& sInitFolder);

// The file extension of a component kind (vbext_ComponentType): ".frm" for a
// form, empty for a related document, which is not written; nothing for a kind
// outside 1 to 11.
const wchar_t* ExtensionOfKind(long kind);

}  // namespace quarnel
