#include "hid/ModuleBinding.h"

bool ModuleBinding::Load() {
    std::lock_guard lock(mutex_);
    if (loadCount_ == 0) {
        module_ = LoadModule(moduleName_, SEM_NOOPENFILEERRORBOX);
        if (module_ == nullptr) {
            return false;
        }
        bool success = true;
        for (const ModuleEntry& entry : entries_) {
            entry.assign(GetModuleSymbolEx(module_, entry.name, success));
        }
        if (!success) {
            clearEntries();
            UnloadModule(module_);
            module_ = nullptr;
            return false;
        }
    }
    ++loadCount_;
    return true;
}

void ModuleBinding::Unload() {
    std::lock_guard lock(mutex_);
    if (loadCount_ == 0) {
        return;
    }
    if (--loadCount_ == 0) {
        clearEntries();
        UnloadModule(module_);
        module_ = nullptr;
    }
}

bool ModuleBinding::IsLoaded() const {
    std::lock_guard lock(mutex_);
    return loadCount_ > 0;
}

void ModuleBinding::clearEntries() {
    for (const ModuleEntry& entry : entries_) {
        entry.assign(nullptr);
    }
}
