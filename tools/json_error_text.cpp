#include "tools/json_error_text.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace tessaryn {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// "line L, column C" of the byte at index; columns count characters, not UTF-8 bytes.
std::string lineAndColumn(const std::string& text, size_t index) {
    index = std::min(index, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < index; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The text between after and the next until (or the end), empty when after is absent.
std::string between(const std::string& text, const std::string& after, const std::string& until) {
    const size_t start = text.find(after);
    if (start == std::string::npos) return {};
    const size_t from = start + after.size();
    const size_t end = text.find(until, from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The last character before index that is not blank, or 0.
char previousSignificant(const std::string& text, size_t index) {
    while (index > 0) {
        --index;
        if (!isBlank(text[index])) return text[index];
    }
    return 0;
}

// The parser names tokens by their kind; a publisher reads the token itself.
std::string foundWords(const std::string& token) {
    if (token == "end of input") return "the end of the file";
    if (token == "string literal") return "a string";
    if (token == "number literal") return "a number";
    if (token == "'true' literal" || token == "'false' literal" || token == "'null' literal") {
        return token.substr(1, token.find('\'', 1) - 1);
    }
    return token;
}

std::string expectedWords(const std::string& context, const std::string& expected) {
    if (expected == "string literal") return "a key in double quotes";
    if (expected == "':'") return "':' after the key";
    if (context == "object" && expected == "'}'") return "',' or '}' after the value";
    if (context == "array" && expected == "']'") return "',' or ']' after the value";
    if (expected == "end of input") return "nothing after the closing '}'";
    if (expected.rfind("'[', '{'", 0) == 0) {
        return "a value (a string in double quotes, a number, true, false, null, [ or {)";
    }
    return expected;
}

// Where a token the lexer could not read starts, and what it is in plain words.
std::string invalidLiteral(const std::string& text, size_t index) {
    size_t start = std::min(index, text.size());
    while (start > 0 && std::isalnum(static_cast<unsigned char>(text[start - 1]))) --start;
    std::string where = lineAndColumn(text, start) + ": ";
    if (start >= text.size()) return where + "unexpected end of the file";
    const char c = text[start];
    if (c == '\'') {
        return where + "found a single quote ', but JSON strings and keys take double quotes \"";
    }
    if (c == '/' || c == '#') return where + "found a comment, but JSON has none";
    if (std::isalpha(static_cast<unsigned char>(c))) {
        size_t end = start;
        while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
        return where + "found the word " + text.substr(start, end - start) +
               ", but JSON knows only true, false and null; text takes double quotes \"";
    }
    return where + "found the character '" + std::string(1, c) +
           "', which JSON does not allow here";
}

std::string invalidString(const std::string& text, size_t index, const std::string& why) {
    // The opening quote: the nearest one before the failure that is not escaped.
    size_t open = std::min(index, text.size());
    while (open > 0 && !(text[open - 1] == '"' && (open < 2 || text[open - 2] != '\\'))) --open;
    const size_t quote = open > 0 ? open - 1 : 0;
    if (why.find("U+000A") != std::string::npos || why.find("U+000D") != std::string::npos) {
        return lineAndColumn(text, quote) +
               ": the string starting here runs past the end of its line; close it with \" or "
               "write a line break as \\n";
    }
    if (why.find("control character") != std::string::npos) {
        return lineAndColumn(text, quote) +
               ": the string starting here holds a control character (a tab is written \\t)";
    }
    if (why.find("missing closing quote") != std::string::npos) {
        return lineAndColumn(text, quote) + ": the string starting here is never closed with \"";
    }
    if (why.find("after backslash") != std::string::npos) {
        return lineAndColumn(text, index > 0 ? index - 1 : 0) +
               ": a backslash starts an unknown escape; write each \\ in a Windows path as \\\\";
    }
    return lineAndColumn(text, quote) +
           ": the string starting here is not valid UTF-8 or has a bad \\u escape";
}

}  // namespace

std::string jsonErrorText(const std::string& text, size_t byte, const std::string& parserMessage) {
    // The parser counts the failing read from 1; its index in the text is one less.
    const size_t index = std::min(byte > 0 ? byte - 1 : 0, text.size());
    const std::string detail = between(parserMessage, " - ", "\n");
    if (detail.rfind("invalid literal", 0) == 0) return invalidLiteral(text, index);
    if (detail.rfind("invalid string", 0) == 0) return invalidString(text, index, detail);
    const std::string context = between(parserMessage, "while parsing ", " - ");
    const std::string found = between(detail, "unexpected ", ";");
    const std::string expected = between(detail, "; expected ", "\n");
    if (found.empty() || expected.empty()) {
        return lineAndColumn(text, index) + ": " + (detail.empty() ? parserMessage : detail);
    }
    size_t start = found == "end of input" ? text.size() : index;
    if (found == "string literal") {
        // The parser has read the whole string; point at its opening quote.
        while (start > 0 && !(text[start - 1] == '"' && (start < 2 || text[start - 2] != '\\'))) {
            --start;
        }
        start = start > 0 ? start - 1 : 0;
    } else if (found == "number literal") {
        while (start > 0 && std::string_view("0123456789+-.eE").find(text[start - 1]) !=
                                std::string_view::npos) {
            --start;
        }
    }
    std::string message = lineAndColumn(text, start) + ": expected " +
                          expectedWords(context, expected) + ", found " + foundWords(found);
    const char before = previousSignificant(text, start);
    if (before == ',' && (found == "'}'" || found == "']'")) {
        message += " (JSON allows no comma before a closing " + found + ")";
    }
    return message;
}

}  // namespace tessaryn
