#pragma once
// What the code under test writes to standard error meanwhile.
#include <QByteArray>
#include <QTemporaryFile>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace dervix::test {

inline QByteArray CapturedStderr(const std::function<void()>& work) {
    QTemporaryFile file;
    if (!file.open()) return "<capture failed>";
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(file.handle(), 2);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

}  // namespace dervix::test
