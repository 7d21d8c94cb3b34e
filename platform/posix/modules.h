// The modules and entry points that LoadLibraryW/GetModuleHandleW/
// GetProcAddress know on POSIX, with hooks for tests that need a system
// where a library or an entry point is missing.
#pragma once

#include <string>

namespace winapi_posix {

// Makes LoadLibraryW/GetModuleHandleW fail for the module (by file name,
// case-insensitive, e.g. u"setupapi.dll") while `missing` is true.
void SetModuleMissingForTesting(const std::u16string& module, bool missing);
// Makes GetProcAddress fail for one entry point of a module.
void SetEntryPointMissingForTesting(const std::u16string& module, const std::string& entry, bool missing);
// Undoes every hook above.
void ResetModuleHooksForTesting();

}  // namespace winapi_posix
