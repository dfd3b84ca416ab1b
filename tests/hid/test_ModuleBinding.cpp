#include "hid/Hid.h"
#include "hid/ModuleLoader.h"
#include "hid/SetupApi.h"
#include "platform/win32/Win32.h"

#include <gtest/gtest.h>

namespace {

ModuleEntries builtInHidEntries() {
    const auto list = platform::hidModuleEntries();
    return ModuleEntries(list.begin(), list.end());
}

// Replaces "HID.dll" for one test and puts the built-in one back afterwards.
class HidModuleTest : public ::testing::Test {
protected:
    void TearDown() override {
        while (IsHidLoaded()) {
            UnloadHid();
        }
        UnregisterModule(HidModuleName);
    }
};

TEST(ModuleLoader, UnknownModulesAndEntriesFailAndClearTheFlag) {
    EXPECT_EQ(LoadModule("NoSuch.dll", SEM_NOOPENFILEERRORBOX), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    HMODULE module = LoadModule("hid.DLL", SEM_NOOPENFILEERRORBOX); // names ignore case
    ASSERT_NE(module, nullptr);
    bool success = true;
    EXPECT_NE(GetModuleSymbolEx(module, "HidD_GetAttributes", success), nullptr);
    EXPECT_TRUE(success);
    EXPECT_EQ(GetModuleSymbolEx(module, "HidD_NoSuchEntry", success), nullptr);
    EXPECT_FALSE(success);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_NE(GetModuleSymbolEx(module, "HidP_GetCaps", success), nullptr);
    EXPECT_FALSE(success); // a later hit does not set the flag again
    UnloadModule(module);
}

TEST(SetupApiBinding, LoadsAreCountedAndTheLastUnloadClearsTheEntries) {
    ASSERT_FALSE(IsSetupApiLoaded());
    ASSERT_TRUE(LoadSetupApi());
    ASSERT_TRUE(LoadSetupApi());
    EXPECT_EQ(SetupDiGetClassDevsW, &platform::SetupDiGetClassDevsW);
    UnloadSetupApi();
    EXPECT_TRUE(IsSetupApiLoaded());
    EXPECT_NE(SetupDiGetDeviceRegistryPropertyW, nullptr);
    UnloadSetupApi();
    EXPECT_FALSE(IsSetupApiLoaded());
    EXPECT_EQ(SetupDiGetDeviceRegistryPropertyW, nullptr);
    UnloadSetupApi(); // one unload too many changes nothing
    EXPECT_TRUE(LoadSetupApi());
    UnloadSetupApi();
}

TEST_F(HidModuleTest, AMissingEntryLeavesEveryEntryUnbound) {
    ModuleEntries entries = builtInHidEntries();
    entries.erase("HidD_GetNumInputBuffers");
    RegisterModule(HidModuleName, entries);
    EXPECT_FALSE(LoadHid());
    EXPECT_FALSE(IsHidLoaded());
    EXPECT_EQ(HidD_GetAttributes, nullptr);
    EXPECT_EQ(HidP_GetCaps, nullptr);
}

TEST_F(HidModuleTest, AnUnusedExtraEntryDoesNotDisableTheBinding) {
    ModuleEntries entries = builtInHidEntries();
    entries.emplace("HidD_GetMsGenreDescriptor", reinterpret_cast<void*>(&UnloadHid));
    RegisterModule(HidModuleName, entries);
    ASSERT_TRUE(LoadHid());
    EXPECT_EQ(HidD_GetAttributes, &platform::HidD_GetAttributes);
    UnloadHid();
    EXPECT_EQ(HidD_GetAttributes, nullptr);
}

TEST_F(HidModuleTest, AMissingModuleLeavesHidUnloaded) {
    RegisterModule(HidModuleName, {});
    EXPECT_FALSE(LoadHid());
    UnregisterModule(HidModuleName);
    EXPECT_TRUE(LoadHid()); // the built-in module is back
    EXPECT_TRUE(IsHidLoaded());
}

} // namespace
