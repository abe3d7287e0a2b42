// Opening the serial line and the start-up conversation.
#include <cmath>

#include "devicelink/DeviceLink.h"
#include "devicelink/LineSettingsText.h"
#include "platform/SystemNames.h"
#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The whole text is one number, blanks around it allowed: a sign, digits with
// at most one ".", at least one digit, and an exponent with digits. (A regular
// expression said the same, at the cost of a tenth of the start-up.)
bool IsNumberText(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto digits = [&] {
        const std::size_t from = i;
        while (i < n && IsDigit(text[i])) ++i;
        return i - from;
    };
    while (i < n && IsBlank(text[i])) ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissa = digits();
    if (i < n && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    while (i < n && IsBlank(text[i])) ++i;
    return i == n;
}

// Port numbers are whole numbers in a 16-bit range, as the port number has
// always been held; any other text fails like an unusable port.
SerialPort::Result PortNumberValue(const std::string& text, int& number) {
    if (!IsNumberText(text)) return SerialError{13, "Type mismatch"};
    double value = RoundHalfEven(NumericValue(text));
    if (value < -32768 || value > 32767) return SerialError{6, "Overflow"};
    number = static_cast<int>(value);
    return std::nullopt;
}

}  // namespace

void DeviceLink::reportOpenFailure(const std::string& failure) {
    w_.log.LoggedMsgBox(
        "Error: Serial port configuration\r\r" + failure +
            "\r\rThere is a problem with your serial port configuration. Try re-booting your computer and "
            "try again.\rIf that does not work, type removing the serial port from your hardware "
            "configuration and then\rre-installing the port.",
        MsgBox::Critical, kSection);
}

std::string DeviceLink::PortDevice(Settings& settings, int portNumber) {
    std::string device = settings.GetIniValue("Ports", "Com" + std::to_string(portNumber));
    if (device.empty() && portNumber >= 1) device = StandardPortDevice(portNumber);
    return device;
}

std::string DeviceLink::OpenPort() {
    lostWatch_.reset();
    lossUntold_ = false;
    w_.platform.reopenTimer.stop();
    device_.clear();
    return openPort();
}

std::string DeviceLink::openPort() {
    Globals& g = w_.g;
    std::string message = w_.settings.CheckSettings(g);
    if (!message.empty()) return message;

    SerialPort& port = w_.platform.serial;
    auto failure = [&g](const SerialError& e) {
        return PlainForm(e.number) + " " + e.description + "(COM" + g.PortNumber + "," + g.PortSettings + ")";
    };

    int number = 0;
    if (auto e = PortNumberValue(g.PortNumber, number)) return failure(*e);
    const std::string device = PortDevice(w_.settings, number);
    if (device.empty()) return failure(kNoSuchPort);
    if (auto e = port.setDevice(device)) return failure(*e);

    auto line = ParseLineSettings(g.PortSettings);
    if (!line) return failure(kBadPortSetting);
    if (auto e = port.setLineSettings(*line)) return failure(*e);
    if (auto e = port.setNoHandshaking()) return failure(*e);
    if (auto e = port.setDtr(true)) return failure(*e);
    if (auto e = port.setBufferSizes(128, 128)) return failure(*e);
    if (auto e = port.open()) return failure(*e);
    device_ = device;

    w_.settings.WriteIniValue(kSection, "ErrorStatus", "");
    return {};
}

void DeviceLink::SetupSerialCommunications() {
    std::string message = w_.settings.CheckSettings(w_.g);
    if (!message.empty()) {
        w_.log.LoggedMsgBox("System error or dervantix has not been configured:\r\r" + message +
                                "\r\rClick <OK> to configure the Corvane Dervantix",
                            MsgBox::Critical, kSection);
        w_.config.showModal();
        w_.endProgram();
    }
    std::string failure = OpenPort();
    if (!failure.empty()) {
        reportOpenFailure(failure);
        w_.endProgram();
    }
    w_.txtDVXScmd.setText("CHECK");
}

}  // namespace dervix
