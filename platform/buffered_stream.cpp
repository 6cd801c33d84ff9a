// Buffered reading and line writing shared by the backends' text streams.
// May contain: portable buffering only; the system calls are the backends'.
#include "platform/buffered_stream.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/errors.h"

namespace {

// The most the buffer ever holds: the longest line kept and a block past it.
constexpr std::size_t kMaxBuffer = kMaxLineBytes + kTextReadBlock;

// The line from `begin` to the LF at `lf`, without its line end, kept to kMaxLineBytes.
std::string_view lineBefore(const char* data, std::size_t begin, std::size_t lf) {
    std::size_t length = lf - begin;
    if (length > 0 && data[lf - 1] == '\r') --length;
    return std::string_view(data + begin, std::min(length, kMaxLineBytes));
}

// Views of the whole lines in data[begin, end), at most `max`; `begin` moves
// past them. Most lines are short, so a call of memchr per line would cost
// more than the scan itself: where the build has SSE2 the line ends of 64
// bytes are found at once, and each line costs a few instructions.
std::size_t wholeLines(const char* data, std::size_t& begin, std::size_t end, std::string_view* lines, std::size_t max) {
    std::size_t count = 0;
    std::size_t start = begin;  // of the line not yet handed out
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const auto ends = [&](std::size_t at) {
        const auto block = reinterpret_cast<const __m128i*>(data + at);
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block), lf)));
    };
    for (std::size_t at = start; count < max && at + 64 <= end; at += 64) {
        std::uint64_t mask = ends(at) | std::uint64_t{ends(at + 16)} << 16 | std::uint64_t{ends(at + 32)} << 32 |
                             std::uint64_t{ends(at + 48)} << 48;
        for (; mask != 0; mask &= mask - 1) {
            const std::size_t lfAt = at + static_cast<std::size_t>(std::countr_zero(mask));
            lines[count++] = lineBefore(data, start, lfAt);
            start = lfAt + 1;
            if (count == max) break;
        }
    }
#endif
    while (count < max && start < end) {
        const void* found = std::memchr(data + start, '\n', end - start);
        if (found == nullptr) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        lines[count++] = lineBefore(data, start, at);
        start = at + 1;
    }
    begin = start;
    return count;
}

}  // namespace

bool BufferedTextStream::AtEndOfStream() {
    requireOpen(true);
    return begin_ >= end_ && !fill();
}

std::size_t BufferedTextStream::ReadLines(std::string_view* lines, std::size_t max) {
    // Bytes are buffered only while the stream is open for reading (Close
    // drops them), so only an empty buffer needs the check.
    if (begin_ >= end_) requireOpen(true);
    // The lines the buffer holds whole are handed out together, so their
    // views stay valid together.
    const std::size_t count = wholeLines(buffer_.get(), begin_, end_, lines, max);
    if (count > 0 || max == 0) return count;
    return readLineView(lines[0]) ? 1 : 0;
}

// One line whose end is not in the buffer yet: blocks are read (moving the
// buffer) until it is.
bool BufferedTextStream::readLineView(std::string_view& line) {
    requireOpen(true);
    // Only the bytes added by each fill are scanned, so a long line costs one
    // pass, not one pass per block.
    std::size_t scanFrom = begin_;
    for (;;) {
        const char* data = buffer_.get();
        const void* lf = end_ > scanFrom ? std::memchr(data + scanFrom, '\n', end_ - scanFrom) : nullptr;
        if (lf != nullptr) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
            line = lineBefore(data, begin_, at);
            begin_ = at + 1;
            return true;
        }
        if (end_ - begin_ > kMaxLineBytes) {
            line = skipLongLine();
            return true;
        }
        const std::size_t scanned = end_ - begin_;
        if (!fill()) break;
        scanFrom = begin_ + scanned;
    }
    if (begin_ >= end_) return false;
    line = std::string_view(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    return true;
}

std::string BufferedTextStream::ReadLine() {
    std::string_view line;
    if (ReadLines(&line, 1) == 0) throw runError(err::PastEnd);
    return std::string(line);
}

bool BufferedTextStream::ReadView(std::string_view& bytes) {
    requireOpen(true);
    if (begin_ >= end_ && !fill()) return false;
    bytes = std::string_view(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    return true;
}

std::string BufferedTextStream::ReadAll() {
    requireOpen(true);
    std::string all(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    // What the buffer does not hold is read straight into the result.
    while (!eof_) {
        const std::size_t old = all.size();
        all.resize(old + kTextReadBlock);
        const std::size_t got = readRaw(all.data() + old, kTextReadBlock);
        all.resize(old + got);
        if (got == 0) eof_ = true;
    }
    return all;
}

void BufferedTextStream::Write(const std::string& text) {
    requireOpen(false);
    writeRaw(text.data(), text.size());
}

void BufferedTextStream::WriteLine(const std::string& text) {
    requireOpen(false);
    std::string line;
    line.reserve(text.size() + 2);
    line += text;
    line += "\r\n";
    writeRaw(line.data(), line.size());
}

void BufferedTextStream::WriteLines(const std::vector<std::string>& texts) {
    requireOpen(false);
    std::size_t size = 0;
    for (const std::string& text : texts) size += text.size() + 2;
    std::string block;
    block.reserve(size);
    for (const std::string& text : texts) {
        block += text;
        block += "\r\n";
    }
    writeRaw(block.data(), block.size());
}

void BufferedTextStream::Close() {
    requireOpen(reading_);
    begin_ = end_ = 0;
    closeRaw();
}

void BufferedTextStream::requireOpen(bool forReading) const {
    if (!isOpen()) throw runError(err::BadFileName);
    if (forReading != reading_) throw runError(err::BadFileMode);
}

// Moves the bytes not yet handed out to the front and makes room for a
// block after them.
void BufferedTextStream::compact() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (capacity_ - end_ >= kTextReadBlock || capacity_ == kMaxBuffer) return;
    const std::size_t capacity = std::min(kMaxBuffer, std::max(end_ + kTextReadBlock, 2 * capacity_));
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (end_ > 0) std::memcpy(grown.get(), buffer_.get(), end_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
}

// Reads the next block after the bytes not yet handed out. False at the end
// of the file.
bool BufferedTextStream::fill() {
    if (eof_) return false;
    compact();
    const std::size_t got = readRaw(buffer_.get() + end_, std::min(capacity_ - end_, kTextReadBlock));
    if (got == 0) eof_ = true;
    end_ += got;
    return got > 0;
}

// A line longer than kMaxLineBytes: its head is kept at the front of the
// buffer, the rest is read block by block behind it and dropped until its
// LF. The head is handed out; the bytes after the LF are the next to read.
std::string_view BufferedTextStream::skipLongLine() {
    compact();
    char* data = buffer_.get();
    begin_ = end_ = kMaxLineBytes;
    while (!eof_) {
        const std::size_t got = readRaw(data + kMaxLineBytes, capacity_ - kMaxLineBytes);
        if (got == 0) {
            eof_ = true;
            break;
        }
        const void* lf = std::memchr(data + kMaxLineBytes, '\n', got);
        if (lf != nullptr) {
            begin_ = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
            end_ = kMaxLineBytes + got;
            break;
        }
    }
    return std::string_view(data, kMaxLineBytes);
}
