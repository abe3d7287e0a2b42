#pragma once
// A link client that watches items and keeps every change line it is told,
// and request lines written as C string literals, NUL bytes included.
#include <string>
#include <string_view>
#include <vector>

#include "shell/LinkProtocol.h"

namespace dervix::test {

struct Watcher : LinkWatcher {
    std::vector<std::string> lines;
    void changed(std::string_view, const std::string& line) override { lines.push_back(line); }
};

template <std::size_t N>
std::string B(const char (&text)[N]) {
    return std::string(text, N - 1);
}

}  // namespace dervix::test
