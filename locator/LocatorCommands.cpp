#include "locator/LocatorCommands.h"

TDeviceCommand ReadConfigurationCommand(THidDataEvent Handler) {
    TDeviceCommand command;
    command.Prepare = [](TReport& HidData) { HidData.Data[0] = cmdReadConfig; };
    command.Handler = std::move(Handler);
    return command;
}

TDeviceCommand WriteConfigurationCommand(std::function<void(TReport& HidData)> Fill,
                                         THidDataEvent Handler) {
    TDeviceCommand command;
    command.Prepare = [](TReport& HidData) { HidData.Data[0] = cmdWriteConfig; };
    command.Complete = std::move(Fill);
    command.Handler = std::move(Handler);
    return command;
}

TDeviceCommand WriteConfigurationCommand(const TLocatorConfig& config, THidDataEvent Handler) {
    return WriteConfigurationCommand(
        [config](TReport& HidData) { EncodeLocatorConfig(config, HidData); }, std::move(Handler));
}

TDeviceCommand FactoryResetCommand(THidDataEvent Handler) {
    return WriteConfigurationCommand(kFactoryDefaults, std::move(Handler));
}
