#pragma once
// Byte strings in Qt Test data tables and failure messages, and the bytes
// of a file.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace dervix::test {

inline std::string Bytes(const QByteArray& b) { return std::string(b.constData(), static_cast<std::size_t>(b.size())); }
inline QByteArray Q(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

// A file's whole content; a marker when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The device a port number stands for when [Ports] maps it nowhere, and the
// name the device list shows for it: each platform's own standard ports.
inline std::string StandardPort(int number) {
#ifdef _WIN32
    return "COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}
inline QString StandardPortShown(int number) {
    const QString path = QString::fromStdString(StandardPort(number));
    return path.startsWith("/dev/") ? path.mid(5) : path;
}

// AppPath of the rigs' program folder, /opt/dervix: the short form of a
// folder that is not there is the folder itself, on Windows with "\".
inline std::string RigAppPath() {
#ifdef _WIN32
    return "\\opt\\dervix";
#else
    return "/opt/dervix";
#endif
}

// How many log lines contain the text.
template <typename Lines>
int CountContaining(const Lines& lines, const std::string& text) {
    int n = 0;
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos) ++n;
    return n;
}

}  // namespace dervix::test
