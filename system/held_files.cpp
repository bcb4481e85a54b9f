#include "system/held_files.h"

namespace tessaryn {

std::string holderList(const std::vector<FileHolder>& holders) {
    std::string text;
    for (size_t i = 0; i < holders.size() && i < kNamedHolders; ++i) {
        text += i == 0 ? " (" : "; ";
        text += holders[i].name;
        text += ", process ";
        text += std::to_string(holders[i].processId);
    }
    if (holders.size() > kNamedHolders) text += "; ...";
    if (!text.empty()) text += ")";
    return text;
}

}  // namespace tessaryn
