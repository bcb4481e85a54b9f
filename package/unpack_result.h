#pragma once
// How an unpacking ended, told the same way by every layer of it: the decoder of one entry, the
// writer pool, the walk over the bundle, and the setup's two roads (while downloading, whole).
#include <cstddef>
#include <string>
#include <utility>

namespace tessaryn {

class UnpackResult {
  public:
    enum class Kind {
        Done,       // every entry written
        ReadWhole,  // no failure of the bundle: unpack it again once it has arrived whole
        Cancelled,  // an entry left because an earlier one failed or the unpacking was left
        Failed,     // the bundle's own failure at `entry`, told by `text`
    };

    static UnpackResult done() { return UnpackResult(Kind::Done, 0, {}); }
    static UnpackResult readWhole(std::string why) {
        return UnpackResult(Kind::ReadWhole, 0, std::move(why));
    }
    static UnpackResult cancelled() { return UnpackResult(Kind::Cancelled, 0, {}); }
    static UnpackResult failed(size_t entry, std::string text) {
        return UnpackResult(Kind::Failed, entry, std::move(text));
    }

    Kind kind() const { return kind_; }
    bool isDone() const { return kind_ == Kind::Done; }
    bool isFailed() const { return kind_ == Kind::Failed; }
    // The failing entry's index in the bundle's order (Failed only).
    size_t entry() const { return entry_; }
    // The failure's message as shown, or why the bundle is read whole.
    const std::string& text() const { return text_; }

  private:
    UnpackResult(Kind kind, size_t entry, std::string text)
        : kind_(kind), entry_(entry), text_(std::move(text)) {}
    Kind kind_;
    size_t entry_;
    std::string text_;
};

// The texts of the two failures that are the system's rather than the bundle's.
inline std::string writeFailedText(const std::string& path) {
    return "Failed to write file: " + path + " (Error code: 100)";
}
inline std::string readFailedText(const std::string& path) {
    return "Failed to read file: " + path + " (Error code: 200)";
}

}  // namespace tessaryn
