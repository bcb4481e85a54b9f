#pragma once
// The bundle's document read front to back while its bytes are still arriving: the head up to
// the list of files, then each entry once all of its bytes are available, or, for a file whose
// data is its last key, once everything before that data (and the data's LZMA header) is: the
// entry then carries the wait for the rest, and the next entry is read once it has arrived.
// What is available is told by the caller (the bytes whose blocks have checked); nothing past it
// is ever read.
//
// Judgement stays with BundleDocument: whenever anything is wrong, and once the list has ended,
// the whole document (waited for) is read by BundleDocument, whose error is thrown as it is. So
// the stream accepts and refuses exactly what BundleDocument does, with the same texts. Forms
// that cannot be read in one pass (a map of files, taken in key order; null; a second "files"
// whose list wins over the one read) end the stream with a reason to read it whole: the caller
// then reads the document whole.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "package/bundle_document.h"
#include "package/unpack_result.h"

namespace tessaryn {

class CborCursor;

class BundleStream {
  public:
    // Waits until at least `wanted` bytes of the bundle are available, or until it gives up
    // (a stop, a time limit); returns how many are available then. Entries handed out before
    // their data has arrived carry it to the workers: it must be safe to call from any thread.
    using WaitFor = std::function<size_t(size_t wanted)>;

    // `data` holds the bundle's `size` bytes once they have all arrived; `waitFor` tells how
    // many of them can be read.
    BundleStream(const uint8_t* data, size_t size, WaitFor waitFor);

    // The next entry in extraction order, or none once the list has ended or when the document
    // is to be read whole (readWhole() then says why). Throws what BundleDocument's
    // construction would throw for this document, or the entry's error (which an error further
    // on in the document precedes: confirm(false) tells).
    std::optional<BundleEntry> next();
    // Why the document is to be read whole, once it is: it cannot be read in one pass, or the
    // bytes stopped coming. Not a failure of the bundle.
    const std::optional<std::string>& readWhole() const { return readWhole_; }

    // The entries the list announces (0 when it does not say); known after the first next().
    size_t listed() const { return listed_; }

    // Waits for the whole document and reads it as BundleDocument: throws its error; else
    // Done, or ReadWhole when the bytes stopped coming or the entries read so far (complete:
    // all entries) are not the ones it lists.
    UnpackResult confirm(bool complete);
    // The document's version, once confirmed.
    const std::string& version() const { return version_; }

  private:
    enum class Phase { Head, List, Ended };
    using Span = std::optional<std::pair<size_t, size_t>>;
    // Runs `parse` on a cursor at the current position over the available bytes, waiting for
    // more while it meets their end; the position moves only when it succeeds. None once the
    // document is to be read whole.
    template <typename Parse>
    auto withBytes(Parse parse) -> std::optional<decltype(parse(std::declval<CborCursor&>()))>;
    // False once the bytes stopped coming.
    bool awaitBytes(size_t wanted);
    // Where the next entry's data lies (start, length) when it may be handed out before it
    // has arrived; the position is left anywhere within the entry. None when the document is
    // to be read whole.
    std::optional<Span> streamableData();
    // False when the document is to be read whole.
    bool openList();
    // The document (whole) says what is wrong, or else that it is to be read whole.
    void judgeWhole();
    void readWholeFor(std::string why) {
        if (!readWhole_) readWhole_ = std::move(why);
    }

    const uint8_t* data_;
    size_t size_;
    WaitFor waitFor_;
    size_t available_ = 0;
    size_t position_ = 0;
    Phase phase_ = Phase::Head;
    bool listIndefinite_ = false;
    uint64_t listCount_ = 0;
    size_t listed_ = 0;
    std::vector<size_t> places_;  // where each entry read starts
    std::optional<std::string> readWhole_;
    std::string version_;
};

}  // namespace tessaryn
