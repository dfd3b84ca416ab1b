#pragma once
// Modules loaded by name and entries looked up by name, as the HID and setup bindings need.
// Here a module is a table of named entries: the two built-in ones, "HID.dll" and
// "SetupApi.dll", point at the platform's implementations, and a test may register its own
// table under any name, which then hides a built-in module of that name until unregistered.
// Module names compare without regard to case, entry names exactly.

#include "platform/win32/WinTypes.h"

#include <map>
#include <string>

using HMODULE = void*;

// Suppresses the system's "module not found" box; accepted and otherwise without effect.
constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;

// Null with ERROR_MOD_NOT_FOUND when no module has that name. Each successful load must be
// matched by one UnloadModule.
HMODULE LoadModule(const std::string& name, UINT errorMode);
// The entry's address; null with success cleared (and ERROR_PROC_NOT_FOUND) when the module
// has no such entry. success is left alone when the entry is found, so one flag can collect
// the outcome of many look-ups.
void* GetModuleSymbolEx(HMODULE module, const std::string& name, bool& success);
void UnloadModule(HMODULE module);

using ModuleEntries = std::map<std::string, void*>;
void RegisterModule(const std::string& name, ModuleEntries entries);
void UnregisterModule(const std::string& name);
