#include "system/environment_block.h"

namespace tessaryn {
namespace {

// Deeper references than this are taken for a loop, and left as text.
constexpr int kExpansionPasses = 8;

wchar_t upperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

int compareNames(std::wstring_view a, std::wstring_view b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const wchar_t x = upperAscii(a[i]), y = upperAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Where the entry of `name` starts, or where it would go; `found` says which.
size_t entryOf(const std::wstring& block, std::wstring_view name, bool& found) {
    size_t at = 0;
    for (; at < block.size(); at = block.find(L'\0', at) + 1) {
        const size_t equals = block.find(L'=', at);
        const int order = compareNames(std::wstring_view(block).substr(at, equals - at), name);
        if (order >= 0) {
            found = order == 0;
            return at;
        }
    }
    found = false;
    return at;
}

}  // namespace

const wchar_t* valueOf(const std::wstring& block, std::wstring_view name) {
    bool found = false;
    const size_t at = entryOf(block, name, found);
    return found ? block.c_str() + block.find(L'=', at) + 1 : nullptr;
}

void setValue(std::wstring& block, std::wstring_view name, std::wstring_view value) {
    if (name.empty() || name.find(L'=') != std::wstring_view::npos) return;
    bool found = false;
    const size_t at = entryOf(block, name, found);
    if (found) block.erase(at, block.find(L'\0', at) + 1 - at);
    std::wstring entry(name);
    ((entry += L'=') += value) += L'\0';
    block.insert(at, entry);
}

std::wstring expandReferences(const std::wstring& text, const std::wstring& block) {
    std::wstring out;
    size_t at = 0;
    for (size_t open, close;
         (open = text.find(L'%', at)) != std::wstring::npos &&
         (close = text.find(L'%', open + 1)) != std::wstring::npos;) {
        out.append(text, at, open - at);
        const wchar_t* value =
            valueOf(block, std::wstring_view(text).substr(open + 1, close - open - 1));
        // Not a name: the first % is text, the second may open a reference.
        out += value ? value : L"%";
        at = value ? close + 1 : open + 1;
    }
    return out.append(text, at, std::wstring::npos);
}

void addValues(std::wstring& block, const std::wstring& plain, const std::wstring& expandable) {
    const std::wstring given = block;
    // Each pass expands the stored texts against what the last pass made, so that a reference
    // to a value that refers on is resolved one level further.
    for (int pass = 0; pass < kExpansionPasses; ++pass) {
        for (const std::wstring* values : {&plain, &expandable}) {
            for (size_t at = 0; at < values->size(); at = values->find(L'\0', at) + 1) {
                const size_t equals = values->find(L'=', at);
                const std::wstring name = values->substr(at, equals - at);
                const std::wstring text = values->c_str() + equals + 1;
                if (valueOf(given, name)) continue;
                setValue(block, name, values == &plain ? text : expandReferences(text, block));
            }
        }
    }
}

std::wstring finishedBlock(std::wstring block) {
    if (block.empty()) block += L'\0';
    return block += L'\0';
}

}  // namespace tessaryn
