#include "platform/qt/win/WinSerialDevices.h"

#include "platform/qt/WatchHandle.h"
#include "platform/win/WinApi.h"
#include <setupapi.h>

#include <QHash>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <algorithm>

namespace dervix {

namespace {

struct Listed {
    QString port;    // COM3
    QString driver;  // the registry's name for it, e.g. \Device\Serial2
};

std::vector<Listed> ListedPorts() {
    std::vector<Listed> ports;
    HKEY key = nullptr;
    // Absent on a computer without any serial port.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG result =
            RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_MORE_DATA) continue;  // no COM name is that long
        if (result != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        // The data need not end in a NUL.
        const QString port = QString::fromWCharArray(data, static_cast<qsizetype>(dataBytes / sizeof(wchar_t)))
                                 .section(QChar(u'\0'), 0, 0)
                                 .trimmed();
        if (!port.isEmpty()) ports.push_back({port, QString::fromWCharArray(name, static_cast<qsizetype>(nameLength))});
    }
    RegCloseKey(key);
    return ports;
}

// Device Manager's names of the ports, by upper-case COM name, without the
// " (COM3)" they end in. Drivers that are not in the ports class (and Wine's
// mapped ports) have none.
QHash<QString, QString> FriendlyNames() {
    static const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    QHash<QString, QString> names;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t port[64] = {};
        DWORD portBytes = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                                            &portBytes) == ERROR_SUCCESS && type == REG_SZ;
        RegCloseKey(key);
        wchar_t friendly[256] = {};
        if (!named || !SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                         reinterpret_cast<BYTE*>(friendly),
                                                         sizeof friendly - sizeof(wchar_t), nullptr))
            continue;
        const QString portName = QString::fromWCharArray(port).trimmed().toUpper();
        QString name = QString::fromWCharArray(friendly).trimmed();
        const QString suffix = QStringLiteral(" (%1)").arg(portName);
        if (name.endsWith(suffix, Qt::CaseInsensitive)) name.chop(suffix.size());
        names.insert(portName, name);
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

// COM2 before COM10, as a person counts.
std::pair<QString, int> PersonKey(const QString& port) {
    qsizetype digits = port.size();
    while (digits > 0 && port[digits - 1].isDigit()) --digits;
    return {port.left(digits).toUpper(), port.mid(digits).toInt()};
}

class Watcher : public QObject {
public:
    explicit Watcher(std::function<void()> onChange) : onChange_(std::move(onChange)) {
        connect(&check_, &QTimer::timeout, this, [this] {
            if (onChange_) onChange_();
        });
        check_.start(WinSerialDevices::kCheckMs);
    }
    void forget() { onChange_ = nullptr; }

private:
    std::function<void()> onChange_;
    QTimer check_;
};

}  // namespace

std::vector<SerialDeviceInfo> WinSerialDevices::present() {
    std::vector<Listed> ports = ListedPorts();
    std::sort(ports.begin(), ports.end(),
              [](const Listed& a, const Listed& b) { return PersonKey(a.port) < PersonKey(b.port); });
    const QHash<QString, QString> friendly = FriendlyNames();
    std::vector<SerialDeviceInfo> devices;
    for (const Listed& listed : ports) {
        SerialDeviceInfo device;
        device.path = listed.port.toStdString();
        QString description = friendly.value(listed.port.toUpper());
        if (description.isEmpty()) {
            description = listed.driver;
            if (description.startsWith(QLatin1String("\\Device\\"), Qt::CaseInsensitive)) description.remove(0, 8);
        }
        device.description = description.toStdString();
        devices.push_back(std::move(device));
    }
    return devices;
}

std::string WinSerialDevices::resolve(const std::string& path) {
    QString port = QString::fromStdString(path).trimmed();
    if (port.startsWith(QLatin1String("\\\\.\\"))) port.remove(0, 4);
    if (port.isEmpty()) return {};
    for (const Listed& listed : ListedPorts())
        if (listed.port.compare(port, Qt::CaseInsensitive) == 0) return listed.port.toStdString();
    return {};
}

std::unique_ptr<SerialDevices::Watch> WinSerialDevices::watch(const std::string&, std::function<void()> onChange) {
    return std::make_unique<WatchHandle<Watcher>>(new Watcher(std::move(onChange)));
}

}  // namespace dervix
