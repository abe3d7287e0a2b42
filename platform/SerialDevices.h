#pragma once
// The serial devices of this computer: which are there, whether a path
// reaches one now, and word when they come and go (an adapter plugged in or
// pulled out).
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dervix {

struct SerialDeviceInfo {
    std::string path;         // the device node, e.g. /dev/ttyUSB0
    std::string byIdPath;     // its /dev/serial/by-id/... link, empty when it has none
    std::string description;  // what identifies it to a person, UTF-8; may be empty
};

class SerialDevices {
public:
    virtual ~SerialDevices() = default;

    // The serial devices present now, in the order the operator sees them.
    virtual std::vector<SerialDeviceInfo> present() = 0;
    // The device node that path reaches now (links followed), empty when it
    // reaches none: absent, a dangling link, or a file that is no device.
    virtual std::string resolve(const std::string& path) = 0;

    // Watching stops when the handle goes.
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    // Runs onChange from the event loop, never from inside this call, each
    // time devices may have come or gone: where serial devices appear, and in
    // the folder of devicePath when it is not empty (also when that folder
    // itself comes and goes). Spurious calls are allowed.
    virtual std::unique_ptr<Watch> watch(const std::string& devicePath, std::function<void()> onChange) = 0;
};

}  // namespace dervix
