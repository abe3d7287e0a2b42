#pragma once
// The serial ports as Windows lists them under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// where every serial driver enters the COM names of its ports (built-in
// ports and USB adapters alike), with Device Manager's names for them.
#include "platform/SerialDevices.h"

namespace dervix {

class WinSerialDevices : public SerialDevices {
public:
    // How often a watch looks again. Nothing looks while nothing watches.
    static constexpr int kCheckMs = 1000;

    // COM1, COM2 ... COM10 in that order; path is the COM name, byIdPath empty.
    std::vector<SerialDeviceInfo> present() override;
    // The listed COM name that path names ("com3", "\\.\COM3" give "COM3"),
    // empty when no such port is listed now.
    std::string resolve(const std::string& path) override;
    // A COM name has no folder to watch: devicePath changes nothing.
    std::unique_ptr<Watch> watch(const std::string& devicePath, std::function<void()> onChange) override;
};

}  // namespace dervix
