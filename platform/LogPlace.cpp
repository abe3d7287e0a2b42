#include "platform/LogPlace.h"

namespace dervix {

LogPlace ChooseLogPlace(const LogPlaceFacts& facts, const std::function<bool(const std::string&)>& canAppend) {
    if (!facts.chosen.empty()) return {facts.chosen, {}};
    if (canAppend(facts.besideProgram)) return {facts.besideProgram, {}};
    return {facts.userFolder + facts.separator + "Dervix.txt", facts.userFolder};
}

}  // namespace dervix
