#include "hid/ModuleLoader.h"

#include "platform/hidclass/HidD.h"
#include "platform/hidclass/SetupApi.h"
#include "platform/win32/Win32.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

namespace {

struct Module {
    ModuleEntries entries;
};

std::string lowerCase(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

ModuleEntries entriesFrom(const std::vector<std::pair<std::string, void*>>& list) {
    return ModuleEntries(list.begin(), list.end());
}

// Registered modules by lower-case name, and the modules loaded now by handle. A loaded module
// stays valid until its last unload, even if it is unregistered meanwhile.
class ModuleRegistry {
public:
    ModuleRegistry() {
        builtIn_.emplace(lowerCase("HID.dll"), std::make_shared<Module>(Module{
                                                   entriesFrom(platform::hidModuleEntries())}));
        builtIn_.emplace(
            lowerCase("SetupApi.dll"),
            std::make_shared<Module>(Module{entriesFrom(platform::setupApiModuleEntries())}));
    }

    HMODULE load(const std::string& name) {
        std::lock_guard lock(mutex_);
        const std::string key = lowerCase(name);
        auto found = registered_.find(key);
        if (found == registered_.end()) {
            found = builtIn_.find(key);
            if (found == builtIn_.end()) {
                return nullptr;
            }
        }
        HMODULE handle = found->second.get();
        auto& [module, count] = loaded_[handle];
        module = found->second;
        ++count;
        return handle;
    }

    std::shared_ptr<Module> find(HMODULE handle) {
        std::lock_guard lock(mutex_);
        const auto it = loaded_.find(handle);
        return it == loaded_.end() ? nullptr : it->second.first;
    }

    void unload(HMODULE handle) {
        std::lock_guard lock(mutex_);
        const auto it = loaded_.find(handle);
        if (it != loaded_.end() && --it->second.second == 0) {
            loaded_.erase(it);
        }
    }

    void add(const std::string& name, ModuleEntries entries) {
        std::lock_guard lock(mutex_);
        registered_[lowerCase(name)] = std::make_shared<Module>(Module{std::move(entries)});
    }

    void remove(const std::string& name) {
        std::lock_guard lock(mutex_);
        registered_.erase(lowerCase(name));
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Module>> builtIn_;
    std::map<std::string, std::shared_ptr<Module>> registered_;
    std::map<HMODULE, std::pair<std::shared_ptr<Module>, int>> loaded_;
};

ModuleRegistry& registry() {
    static ModuleRegistry modules;
    return modules;
}

} // namespace

HMODULE LoadModule(const std::string& name, UINT) {
    HMODULE module = registry().load(name);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return module;
}

void* GetModuleSymbolEx(HMODULE module, const std::string& name, bool& success) {
    const auto loaded = registry().find(module);
    if (loaded) {
        const auto it = loaded->entries.find(name);
        if (it != loaded->entries.end() && it->second != nullptr) {
            return it->second;
        }
    }
    SetLastError(loaded ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    success = false;
    return nullptr;
}

void UnloadModule(HMODULE module) {
    registry().unload(module);
}

void RegisterModule(const std::string& name, ModuleEntries entries) {
    registry().add(name, std::move(entries));
}

void UnregisterModule(const std::string& name) {
    registry().remove(name);
}
