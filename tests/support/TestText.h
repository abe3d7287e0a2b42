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

// How many log lines contain the text.
template <typename Lines>
int CountContaining(const Lines& lines, const std::string& text) {
    int n = 0;
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos) ++n;
    return n;
}

}  // namespace dervix::test
