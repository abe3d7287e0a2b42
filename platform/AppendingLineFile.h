#pragma once
// A text file that lines are appended to, as the event log needs it on every
// system: opened, written whole and closed again for each line, so each line
// is in the file (in the system's hands, which write it to the disk) once
// append() returns, and nothing is lost when the program ends abruptly.
// What is the same everywhere is here; the system's own calls are its
// adapter's.
#include <cstddef>
#include <string>
#include <utility>

#include "platform/System.h"

namespace dervix {

class AppendingLineFile : public LineFile {
public:
    // folderToMake, when given, is made (with its parents) the first time a
    // line finds it missing; any other missing folder is a failure.
    explicit AppendingLineFile(std::string folderToMake = {}) : folderToMake_(std::move(folderToMake)) {}
    std::string append(const std::string& path, const std::string& bytes) final;

protected:
    struct Attempt {
        std::string error;           // empty when every byte was written
        bool folderMissing = false;  // the file's folder is not there
        std::size_t written = 0;     // bytes that reached the file all the same
    };
    // Opens path for appending (made when absent), writes bytes with one
    // call where the system allows, closes it.
    virtual Attempt appendOnce(const std::string& path, const std::string& bytes) = 0;
    // Makes folder and its missing parents: the empty text, or why not.
    virtual std::string makeFolders(const std::string& folder) = 0;

private:
    bool inFolderToMake(const std::string& path) const;

    std::string folderToMake_;
    // A line cut short (a full disk) stays in the file: the next line must
    // not be glued to it.
    bool torn_ = false;
};

}  // namespace dervix
