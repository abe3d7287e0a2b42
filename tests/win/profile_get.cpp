// Another program of the lab's, as the end-to-end run has one read Dervix's
// settings: through the ANSI profile calls, as the programs that read
// WIN.INI always have. Prints "KEY=value" for each key of [Dervix] asked for,
// "KEY" alone for an absent one.
//   profile-get KEY...
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        char value[256];
        const DWORD n = ::GetProfileStringA("Dervix", argv[i], "\x01", value, sizeof value);
        if (n == 1 && value[0] == '\x01') std::printf("%s\n", argv[i]);
        else std::printf("%s=%s\n", argv[i], value);
    }
    return 0;
}
