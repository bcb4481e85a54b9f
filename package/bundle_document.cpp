// The document is walked at the framing level only: values of the wrong type fail with the JSON
// library's own messages, so that one damage reads alike whichever reader meets it.
#include "package/bundle_document.h"

#include <map>
#include <optional>
#include <stdexcept>

#include "package/cbor_frame.h"
#include "package/entry_name.h"

namespace tessaryn {

namespace {

// A text field of an entry: its text, or the name of the type it has instead.
struct TextField {
    bool present = false;
    bool isText = false;
    std::string text;
    const char* typeName = "";
};

// What an entry item says, before its checks.
struct EntryFields {
    bool isMap = false;
    const char* typeName = "";  // of the entry itself
    TextField name;             // "n"
    TextField type;             // "t"
    bool hasData = false;       // "d" is a byte string
    std::vector<std::pair<size_t, size_t>> data;
};

// The JSON library's name for the type of an item.
const char* typeNameOf(const CborHead& head) {
    switch (head.major) {
        case 0:
        case 1:
            return "number";
        case 2:
            return "binary";
        case 3:
            return "string";
        case 4:
            return "array";
        case 5:
            return "object";
        default:
            break;
    }
    if (head.initial == 0xF4 || head.initial == 0xF5) return "boolean";
    if (head.initial == 0xF6) return "null";
    return "number";
}

[[noreturn]] void failAtEnd(const CborCursor& cursor) {
    cursor.fail(110, "expected end of input; last byte: 0x" +
                         std::to_string(cursor.data()[cursor.position()]));
}

EntryFields readFields(const uint8_t* data, size_t size, size_t offset) {
    CborCursor cursor(data, size, offset);
    const CborHead head = cursor.head();
    EntryFields entry;
    entry.typeName = typeNameOf(head);
    if (head.major != 5) return entry;
    entry.isMap = true;
    // A key given twice counts with its last value, as in the library's maps.
    for (uint64_t i = 0; head.indefinite ? !cursor.nextIsBreak() : i < head.value; ++i) {
        const std::string key = cursor.text(cursor.head());
        const CborHead value = cursor.head();
        if (key == "d") {
            entry.hasData = value.major == 2;
            entry.data.clear();
            if (entry.hasData) {
                cursor.bytes(value, entry.data);
                continue;
            }
        } else if (key == "n" || key == "t") {
            TextField& field = key == "n" ? entry.name : entry.type;
            field.present = true;
            field.isText = value.major == 3;
            field.typeName = typeNameOf(value);
            field.text.clear();
            if (field.isText) {
                field.text = cursor.text(value);
                continue;
            }
        }
        cursor.skip(value);
    }
    return entry;
}

// The JSON library's type error, in its words (the text it gave when it held the document).
[[noreturn]] void failType(int id, const std::string& what) {
    throw std::runtime_error("[json.exception.type_error." + std::to_string(id) + "] " + what);
}

// The entry's text value for key: a missing key stops the extraction with a clear message.
std::string entryText(const EntryFields& entry, const char* key) {
    if (!entry.isMap) {
        failType(305, std::string("cannot use operator[] with a string argument with ") +
                          entry.typeName);
    }
    const TextField& field = key[0] == 'n' ? entry.name : entry.type;
    if (!field.present) {
        throw std::runtime_error(std::string("Invalid bundle entry: missing \"") + key + "\"");
    }
    if (!field.isText) failType(302, std::string("type must be string, but is ") + field.typeName);
    return field.text;
}

}  // namespace

BundleDocument::BundleDocument(const uint8_t* data, size_t size) : data_(data), size_(size) {
    CborCursor cursor(data, size);
    const CborHead root = cursor.head();
    if (root.major != 5) {
        cursor.skip(root);
        if (!cursor.atEnd()) failAtEnd(cursor);
        throw std::runtime_error("Invalid bundle file format");
    }
    bool hasVersion = false;
    std::optional<size_t> filesAt;  // the last "files" wins, as in the library's documents
    for (uint64_t i = 0; root.indefinite ? !cursor.nextIsBreak() : i < root.value; ++i) {
        const std::string key = cursor.text(cursor.head());
        const size_t valueAt = cursor.position();
        const CborHead value = cursor.head();
        if (key == "files") filesAt = valueAt;
        if (key == "version") {
            hasVersion = true;
            version_.clear();
            if (value.major == 3) {
                version_ = cursor.text(value);
                continue;
            }
        }
        cursor.skip(value);
    }
    if (!cursor.atEnd()) failAtEnd(cursor);
    if (!filesAt || !hasVersion) throw std::runtime_error("Invalid bundle file format");

    // Entries come as an array, as a map (values in key order) or not at all (null).
    CborCursor files(data, size, *filesAt);
    const CborHead list = files.head();
    if (list.initial == 0xF6) return;
    if (list.major != 4 && list.major != 5) throw std::runtime_error("Invalid bundle file format");
    // A map holds each key once, the last one given, and yields its values in key order.
    std::map<std::string, size_t> keyed;
    for (uint64_t i = 0; list.indefinite ? !files.nextIsBreak() : i < list.value; ++i) {
        std::string key;
        if (list.major == 5) key = files.text(files.head());
        const size_t at = files.position();
        files.skip(files.head());
        if (list.major == 5) {
            keyed[key] = at;
        } else {
            places_.push_back(at);
        }
    }
    for (const auto& [key, at] : keyed) places_.push_back(at);
}

BundleEntry BundleDocument::entry(size_t index) const {
    return readBundleEntry(data_, size_, places_[index]);
}

BundleEntry readBundleEntry(const uint8_t* data, size_t size, size_t offset) {
    EntryFields fields = readFields(data, size, offset);
    BundleEntry entry;
    entry.name = entryText(fields, "n");
    const std::string type = entryText(fields, "t");
    if (!entry.name.empty() && entry.name.front() == '/') entry.name.erase(0, 1);
    if (type != "d" && type != "f") return entry;
    const std::string prefix = "Failed to extract file " + entry.name + ": ";
    // The bundle is signed, but a name must still never reach outside the destination.
    const std::string escape = entryNameEscapeReason(entry.name);
    if (!escape.empty()) throw std::runtime_error(prefix + escape);
    entry.kind = type == "d" ? EntryKind::Folder : EntryKind::File;
    if (entry.kind == EntryKind::File) {
        if (!fields.hasData) {
            throw std::runtime_error(prefix + "Unsupported data format in bundle for file: " +
                                     entry.name);
        }
        entry.data = std::move(fields.data);
    }
    return entry;
}

}  // namespace tessaryn
