#pragma once
#include <optional>
#include <string>

#include "platform/SerialPort.h"

namespace dervix {

// "19200,N,8,1" into its four parts; nullopt for a text that does not parse.
std::optional<LineSettings> ParseLineSettings(const std::string& text);

}  // namespace dervix
