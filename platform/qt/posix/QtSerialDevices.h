#pragma once
// The serial devices on QSerialPortInfo, with the stable names udev keeps in
// /dev/serial/by-id, and QFileSystemWatcher (inotify) for their comings and
// goings.
#include "platform/SerialDevices.h"

namespace dervix {

class QtSerialDevices : public SerialDevices {
public:
    // How often a watch looks again by itself. Not every device folder
    // notifies (/dev/pts does not), so this catches what inotify misses; it
    // runs only while something is watched.
    static constexpr int kCheckMs = 1000;

    std::vector<SerialDeviceInfo> present() override;
    std::string resolve(const std::string& path) override;
    std::unique_ptr<Watch> watch(const std::string& devicePath, std::function<void()> onChange) override;
};

}  // namespace dervix
