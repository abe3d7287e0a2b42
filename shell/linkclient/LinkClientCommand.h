#pragma once
// dervix-link's command line, the same whatever carries the request:
//
//   dervix-link get ITEM        prints the item's text: to a terminal as the
//                               link writes it (below), to a pipe or a file
//                               byte for byte
//   dervix-link set ITEM TEXT   sets a text field; returns once it is handled
//   dervix-link watch ITEM...   prints "ITEM TEXT" for each item now, then one
//                               such line for each change, until interrupted
//                               or the program ends; TEXT as the link writes
//                               it, so that each change is one line
//
// As the link writes a text: backslash, CR and LF as \\, \r, \n, every other
// control character as \xHH (ESC is \x1B), so no text can steer a terminal.
//
// Exit status: 0 done, 1 the program refused the request, 2 wrong usage or
// no program to talk to (for watch: the program has ended), also when the
// one found may be another user's (on Linux: its folder or socket is not this
// user's own, or it runs as someone else). Arguments and
// printed texts are UTF-8.
#include <cstddef>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

namespace dervix::linkclient {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kTrouble = 2;

struct Command {
    bool set = false;
    bool watch = false;
    std::string item;  // the first item for watch
    std::string text;  // set only
    std::vector<std::string> watched;  // watch only
};

// Asked for, the usage goes to standard output and is no error.
inline int Usage(bool asked = false) {
    std::fputs("usage: dervix-link get ITEM\n"
               "       dervix-link set ITEM TEXT\n"
               "       dervix-link watch ITEM...   (\"ITEM TEXT\" now and on each change, until interrupted)\n"
               "ITEM is one of txtFlowRate, txtDVXScmd, DervixResp, Label3, Label5 (labels cannot be set).\n",
               asked ? stdout : stderr);
    return asked ? kDone : kTrouble;
}

inline int Fail(const std::string& message) {
    std::fprintf(stderr, "dervix-link: %s\n", message.c_str());
    return kTrouble;
}

inline int Refused(const std::string& reason) {
    std::fprintf(stderr, "dervix-link: %s\n", reason.c_str());
    return kRefused;
}

// "ITEM TEXT" for watch, TEXT as the link writes it (escaped UTF-8).
inline std::string WatchLine(const std::string& item, const std::string& escapedText) {
    return item + " " + escapedText + "\n";
}

// The request field ends the program on this word, so no answer follows.
inline bool IsKill(const Command& command) {
    if (!command.set || command.item != "txtDVXScmd") return false;
    std::string word;
    for (char c : command.text) {
        if (static_cast<unsigned char>(c) <= 26) continue;
        word.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return word == "KILL";
}

// The arguments after the program's name: the command to carry out, or the
// exit status of a command line answered here (help, version, wrong usage).
inline std::variant<Command, int> ParseCommandLine(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Usage(true);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("dervix-link %d.%d.%d\n", DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH);
        return kDone;
    }
    if (args.size() < 2) return Usage();
    Command command;
    command.set = args[0] == "set";
    command.watch = args[0] == "watch";
    if (!((args[0] == "get" && args.size() == 2) || (command.set && args.size() == 3) || command.watch))
        return Usage();
    command.item = args[1];
    if (command.watch) command.watched.assign(args.begin() + 1, args.end());
    // A blank inside the name would move the rest of it into the text.
    for (std::size_t i = 1; i < (command.set ? 2 : args.size()); ++i)
        if (args[i].empty() || args[i].find_first_of(" \t\r\n") != std::string::npos)
            return Fail("\"" + args[i] + "\" is not an item name");
    if (command.set) command.text = args[2];
    return command;
}

}  // namespace dervix::linkclient
