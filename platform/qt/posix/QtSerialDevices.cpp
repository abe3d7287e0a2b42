#include "platform/qt/posix/QtSerialDevices.h"
#include "platform/qt/WatchHandle.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QPointer>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>

namespace dervix {

namespace {

// Where udev keeps the names that survive plugging into another socket.
const char* const kByIdFolder = "/dev/serial/by-id";

// The kinds of device a module is reached through: built-in ports, USB
// adapters, USB modems of the CDC class. Pseudo-terminals and the console
// are not offered.
bool Offered(const QString& name) {
    return name.startsWith(QLatin1String("ttyS")) || name.startsWith(QLatin1String("ttyUSB")) ||
           name.startsWith(QLatin1String("ttyACM"));
}

// ttyS2 before ttyS10, as a person counts.
bool PersonOrder(const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
    auto split = [](const std::string& path) {
        std::size_t digits = path.size();
        while (digits > 0 && path[digits - 1] >= '0' && path[digits - 1] <= '9') --digits;
        const std::string number = path.substr(digits);
        const long value = number.empty() || number.size() > 9 ? -1L : std::stol(number);
        return std::make_pair(path.substr(0, digits), value);
    };
    return split(a.path) < split(b.path);
}

std::string Utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Watches the device folders and their nearest existing ancestors, so a
// folder that appears (/dev/serial/by-id with the first adapter) is noticed
// and then watched itself.
class Watcher : public QObject {
public:
    Watcher(QStringList folders, std::function<void()> onChange)
        : folders_(std::move(folders)), onChange_(std::move(onChange)) {
        connect(&inotify_, &QFileSystemWatcher::directoryChanged, this, [this] { changed(); });
        // Plugging is a burst: the node, then its links, then its owner and
        // mode. One look after the burst, not one per step.
        settle_.setSingleShot(true);
        settle_.setInterval(100);
        connect(&settle_, &QTimer::timeout, this, [this] { report(); });
        connect(&check_, &QTimer::timeout, this, [this] { report(); });
        check_.start(QtSerialDevices::kCheckMs);
        rewatch();
    }
    void forget() { onChange_ = nullptr; }

private:
    void changed() {
        rewatch();
        settle_.start();
    }
    void rewatch() {
        QStringList wanted;
        for (QString folder : folders_) {
            while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
                const QString up = QFileInfo(folder).path();
                folder = up == folder ? QString() : up;
            }
            if (!folder.isEmpty() && !wanted.contains(folder)) wanted << folder;
        }
        const QStringList now = inotify_.directories();
        for (const QString& folder : now)
            if (!wanted.contains(folder)) inotify_.removePath(folder);
        for (const QString& folder : wanted)
            if (!now.contains(folder)) inotify_.addPath(folder);
    }
    void report() {
        rewatch();
        if (onChange_) onChange_();
    }

    QStringList folders_;
    std::function<void()> onChange_;
    QFileSystemWatcher inotify_;
    QTimer settle_;
    QTimer check_;
};

}  // namespace

std::vector<SerialDeviceInfo> QtSerialDevices::present() {
    QHash<QString, QString> byId;  // device node -> its stable link
    const QDir links(QString::fromLatin1(kByIdFolder));
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = link.canonicalFilePath();
        if (link.isSymLink() && !target.isEmpty()) byId.insert(target, link.absoluteFilePath());
    }

    std::vector<SerialDeviceInfo> devices;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        if (!Offered(port.portName())) continue;
        SerialDeviceInfo device;
        const QString node = QFileInfo(port.systemLocation()).canonicalFilePath();
        device.path = Utf8(node.isEmpty() ? port.systemLocation() : node);
        device.byIdPath = Utf8(byId.value(node));
        QStringList words;
        for (const QString& word : {port.description(), port.manufacturer(), port.serialNumber()})
            if (!word.trimmed().isEmpty()) words << word.trimmed();
        device.description = Utf8(words.join(QStringLiteral(" \u2014 ")));
        devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(), PersonOrder);
    return devices;
}

std::string QtSerialDevices::resolve(const std::string& path) {
    if (path.empty()) return {};
    const QString node = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    if (node.isEmpty()) return {};
    struct stat st {};
    const QByteArray name = QFile::encodeName(node);
    if (::stat(name.constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
    return std::string(name.constData(), static_cast<std::size_t>(name.size()));
}

std::unique_ptr<SerialDevices::Watch> QtSerialDevices::watch(const std::string& devicePath,
                                                             std::function<void()> onChange) {
    QStringList folders{QStringLiteral("/dev"), QString::fromLatin1(kByIdFolder)};
    if (!devicePath.empty()) folders << QFileInfo(QString::fromStdString(devicePath)).absolutePath();
    return std::make_unique<WatchHandle<Watcher>>(new Watcher(folders, std::move(onChange)));
}

}  // namespace dervix
