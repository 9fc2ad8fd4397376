#pragma once
// Resource ids of the form's images (shared by C++ and the resource script).
#define IDI_FLOPPY 101
