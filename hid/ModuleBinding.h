#pragma once
// The one binding procedure both run-time bindings share: a module name, a table of entries,
// and a load count. The first Load looks every entry up; if the module or any entry is
// missing, every entry is cleared again and the module released. The last Unload clears them.

#include <mutex>
#include <span>
#include <type_traits>

#include "hid/ModuleLoader.h"

struct ModuleEntry {
    const char* name;
    void (*assign)(void* address); // stores the address, or null, into the entry's pointer
};

template <auto& Pointer> void assignModuleEntry(void* address) {
    Pointer = reinterpret_cast<std::remove_reference_t<decltype(Pointer)>>(address);
}

// One row of a binding table: the pointer variable and the entry of the same name.
#define MODULE_ENTRY(pointer)                                                                      \
    ModuleEntry {                                                                                  \
#pointer, &assignModuleEntry < pointer>                                                    \
    }

class ModuleBinding {
public:
    ModuleBinding(const char* moduleName, std::span<const ModuleEntry> entries)
        : moduleName_(moduleName), entries_(entries) {}

    bool Load();
    void Unload();
    bool IsLoaded() const;

private:
    void clearEntries();

    const char* moduleName_;
    std::span<const ModuleEntry> entries_;
    mutable std::mutex mutex_;
    int loadCount_ = 0;
    HMODULE module_ = nullptr;
};
