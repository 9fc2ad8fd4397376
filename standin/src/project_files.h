#pragma once
// The files the IDE writes when it saves: a component's source file and the
// project file (.vbp) that names every component, in the IDE's text formats.
#include <string>

#include "core.h"

namespace standin::detail {

// The extension of a component kind's file, with its dot: L".frm" for a form;
// L"" for a related document, which keeps its own name, or an unknown kind.
std::wstring ExtensionOf(int type);

// A component's file as the IDE writes it: its header, with the
// `Attribute VB_Name` line, then its code.
std::string ComponentFile(const ComponentNode& component);

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
// project: the inverse of ProjectFile and ComponentFile. The project and its
// components come back saved (no unsaved changes), each component with its full
// path and the code after its header. Throws HostError when a file cannot be
// read ("File not found") and for a project file that names no project.
std::shared_ptr<ProjectNode> ReadProject(const std::wstring& path);

}  // namespace standin::detail
