#pragma once
// Who holds files that the setup must move: named in the message that asks to close them.
#include <string>
#include <vector>

namespace tessaryn {

struct FileHolder {
    std::string name;  // the program's name as the system shows it, UTF-8
    unsigned long processId = 0;
};

// The most holders named in one message; a list longer than that ends in "...".
inline constexpr size_t kNamedHolders = 3;

// " (Notepad, process 1234; ...)" for the message's end; empty when no holder is known.
std::string holderList(const std::vector<FileHolder>& holders);

// The programs that hold files in the folder (or the folder itself), as the Restart Manager
// tells; none when it cannot tell (a system without it, or one that answers nothing).
std::vector<FileHolder> folderHolders(const std::wstring& folder);

}  // namespace tessaryn
