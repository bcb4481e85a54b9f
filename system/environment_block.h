#pragma once
// The environment given to every program the elevated run starts, built from named values only,
// so that nothing the user put into their own environment reaches an elevated command.
//
// A block being made holds "NAME=value" entries, each ended by a zero and sorted by name with
// A-Z and a-z alike, as the system sorts and compares them; finishedBlock adds the last zero
// that CreateProcessW (with CREATE_UNICODE_ENVIRONMENT) expects.
#include <string>
#include <string_view>

namespace tessaryn {

// The value of `name` in the block (alive until the block changes), or null.
const wchar_t* valueOf(const std::wstring& block, std::wstring_view name);

// Sets `name` in its place in the order, replacing an entry of that name in any case. A name
// that is empty or holds "=" is not set.
void setValue(std::wstring& block, std::wstring_view name, std::wstring_view value);

// Each %NAME% of `text` that the block holds becomes its value, in one pass (what a value brings
// in is not read again); an unknown name and a lone % stay as they are.
std::wstring expandReferences(const std::wstring& text, const std::wstring& block);

// Adds the entries of `plain` as they are and those of `expandable` expanded against the block
// and each other (a reference to one that refers on is followed a few levels deep), except where
// the block holds the name already.
void addValues(std::wstring& block, const std::wstring& plain, const std::wstring& expandable);

// The block with its last zero (an empty one is two zeros).
std::wstring finishedBlock(std::wstring block);

}  // namespace tessaryn
