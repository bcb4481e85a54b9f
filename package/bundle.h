#pragma once
// The package's payload: one CBOR document listing directories and LZMA-compressed files, and
// its extraction into the installation folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// decompressEntry, for the callers that decode one entry themselves.
#include "package/lzma_entry.h"
#include "package/unpack_result.h"

namespace tessaryn {

// Fraction from 0 to 1 and a text; may be empty. Extraction calls it only from the thread that
// called extractBundle, never from its workers, with fractions that never go down: one report
// per entry, in the bundle's order, when the entry is handed to a worker.
using ExtractProgressCallback = std::function<void(float, const std::string&)>;

// Workers of the default pool: the machine's cores, at most 8.
unsigned defaultExtractThreads();

// Unpacks every entry of the bundle (bytes held by the caller, unchanged until the call
// returns) under destination (UTF-8). Entries are decoded on `threads` workers (0: the default
// pool; 1: on the calling thread), each streamed straight into its file, and, with flushFiles,
// written through to the disk by its worker before it is closed. The decoder windows of the
// pool's running entries stay within kExtractWindowBudget bytes, whatever the number of workers
// (an entry whose window alone is larger runs by itself), plus up to 1 MiB kept by each worker
// between entries. Done, or Failed with the first failing entry in the bundle's order; files
// written before it stay, the failing entry's partial file does not, and no worker is left
// running either way.
[[nodiscard]] UnpackResult extractBundle(const std::string& destination, const uint8_t* bundle,
                                         size_t size, ExtractProgressCallback callback,
                                         unsigned threads = 0, bool flushFiles = false);

// The bytes the bundle's files take once unpacked: each entry's size from its LZMA header (its
// packed size when the header does not say). Throws std::runtime_error for a bundle that is no
// list of entries.
uint64_t bundleUnpackedBytes(const uint8_t* bundle, size_t size);

// The same from a bundle file (all of the file is the bundle).
[[nodiscard]] UnpackResult extractBundle(const std::string& destination,
                                         const std::string& bundlePath,
                                         ExtractProgressCallback callback, unsigned threads = 0,
                                         bool flushFiles = false);

// Told, from the extracting thread, of each entry as it is handed on: its index and the number
// of entries the list announces (0 when it does not say).
using StreamProgressCallback = std::function<void(size_t index, size_t listed)>;

class BundleStream;

// Unpacks the entries of a bundle whose bytes are still arriving, each as soon as it lies in
// the stream's available bytes, a file the stream hands out by its head while its data arrives
// (`bundle` is where the stream reads them, the same base). Takes and refuses what
// extractBundle does, with the same texts; ReadWhole (nothing of the destination to be kept)
// when the document must be read whole, when the bytes stopped coming (for the walk or for a
// worker), or when the files would take more than spaceBudget bytes. Once Done, the stream
// tells the bundle's version.
[[nodiscard]] UnpackResult extractBundleStream(const std::string& destination,
                                               BundleStream& stream, const uint8_t* bundle,
                                               uint64_t spaceBudget,
                                               const StreamProgressCallback& progress,
                                               unsigned threads = 0, bool flushFiles = false);

inline constexpr size_t kExtractWindowBudget = size_t{32} << 20;

}  // namespace tessaryn
