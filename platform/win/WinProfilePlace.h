#pragma once
// Where a Windows operator's settings live.
//
// WIN.INI is the place other programs look, but Windows lets only an
// elevated program write it. The installer therefore maps WIN.INI's [Dervix]
// to the user's registry (HKCU\Software\Dervix): the profile calls of every
// program then read and write the user's own copy. Without that mapping and
// without the right to write WIN.INI (the zip on a locked-down PC), the
// settings go to a file of the user's own rather than being lost.
//
// Where the section in use is still empty, the section an earlier program
// left is taken over: from the user's VirtualStore copy of WIN.INI (where
// Windows put the writes of an earlier 32-bit program), else from WIN.INI
// itself; before both, from the user's own file, where the zip kept them.
// All are read as text: with the mapping in place the profile calls would
// show the registry for any file named win.ini.
#include <string>
#include <vector>

namespace dervix {

class WinIniProfileStore;

struct WinProfileFacts {
    std::string explicitFile;     // %DERVIX_PROFILE%: that file and nothing else
    bool mapped = false;          // WIN.INI's [Dervix] is mapped (the installer's doing)
    bool winIniWritable = false;  // this process may write WIN.INI itself
    bool ownFileExists = false;   // the user's own file is there already
    std::string windowsFolder;    // %windir%, UTF-8
    std::string localAppData;     // %LOCALAPPDATA%
    std::string appData;          // %APPDATA%
};

// The facts of this process and user.
WinProfileFacts ThisUsersProfileFacts();

struct WinProfilePlace {
    std::string file;                  // the store's file; empty for WIN.INI
    std::vector<std::string> earlier;  // where an earlier [Dervix] may be, in order
    bool tell = false;                 // the user's own file is new: say where it is
};

WinProfilePlace ChooseWinProfilePlace(const WinProfileFacts& facts);

// %APPDATA%\Dervix, the folder of the user's own profile files.
std::string WinOwnProfileFolder(const std::string& appData);

// When store's [Dervix] holds no key: the section of the first earlier file
// that has one, keys and values as they stand; the files are only read, and
// one larger than 4 MiB not at all. Returns the line for the log (naming
// such a file too), or the empty text when there is nothing to say.
std::string TakeOverProfile(WinIniProfileStore& store, const std::vector<std::string>& earlier);

// What the operator is told once, in the logic's text.
std::string OwnProfileNotice(const std::string& file);

}  // namespace dervix
