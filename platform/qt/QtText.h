#pragma once
// The logic's texts are single-byte strings (what the module and the profile
// carry); on screen they are Latin-1.
#include <QString>
#include <string>

namespace dervix {

inline QString ToQ(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQ(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Message texts break lines with a single CR; Qt breaks them with LF.
inline QString ToQMessage(const std::string& text) {
    QString q = ToQ(text);
    q.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return q;
}

}  // namespace dervix
