#pragma once
// The files the IDE writes when it saves: a component's source file and the
// project file (.vbp) that names every component, in the IDE's text formats.
#include <string>
#include <utility>
#include <vector>

#include "core.h"

namespace standin::detail {

// The extension of a component kind's file, with its dot: L".frm" for a form;
// L"" for a related document, which keeps its own name, or an unknown kind.
std::wstring ExtensionOf(int type);

// The extensions of the binary files the IDE keeps beside a component of this
// kind (".frx" beside a form).
std::vector<std::wstring> CompanionExtensions(int type);

// A component's file as the IDE writes it at `path`: its header (as read, or
// made with the `Attribute VB_Name` line), then its code.
std::string ComponentFile(const ComponentNode& component, const std::wstring& path);

// Writes a component at `path`, its binary files beside it under the same name.
void WriteComponent(const ComponentNode& component, const std::wstring& path);

// The project file for `project` written at `path`: each component named with the
// keyword of its kind, by a path relative to the project file's folder when it is
// in that folder.
std::string ProjectFile(const ProjectNode& project, const std::wstring& path);

// The full path of a file name as the IDE takes it; throws HostError for an
// empty or malformed name.
std::wstring FullPath(const std::wstring& file_name);

// Writes the file whole, or not at all: on failure (a missing folder, a folder or
// a locked file in the way) the file there before is left as it was, and the
// HostError says why as the IDE's file statements do ("Path not found").
void WriteWholeFile(const std::wstring& path, const std::string& bytes);

// Reads a project file and each component file it names, as the IDE opens a
// project, keeping every line and every byte of the headers for writing back.
// The project and its components come back saved (no unsaved changes), each
// component with its full path, its code and its binary files. A component file
// that cannot be read is left out and said in `problems`, as the IDE reports it
// and opens the rest. Throws HostError when the project file cannot be read and
// for one that names no project.
std::shared_ptr<ProjectNode> ReadProject(const std::wstring& path, std::vector<std::wstring>* problems = nullptr);

}  // namespace standin::detail
