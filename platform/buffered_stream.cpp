// Buffered reading and line writing shared by the backends' text streams.
#include "platform/buffered_stream.h"

#include <algorithm>

#include "platform/errors.h"

namespace {
constexpr std::size_t kReadBlock = 64 * 1024;
}  // namespace

bool BufferedTextStream::AtEndOfStream() {
    requireOpen(true);
    return pos_ >= buffer_.size() && !fill();
}

std::string BufferedTextStream::ReadLine() {
    requireOpen(true);
    // Only the bytes added by each fill are scanned, so a long line costs one
    // pass, not one pass per block.
    std::size_t scanFrom = pos_;
    for (;;) {
        const auto lf = buffer_.find('\n', scanFrom);
        if (lf != std::string::npos) {
            std::size_t end = lf;
            if (end > pos_ && buffer_[end - 1] == '\r') --end;
            std::string line = buffer_.substr(pos_, std::min(end - pos_, kMaxLineBytes));
            pos_ = lf + 1;
            return line;
        }
        if (buffer_.size() - pos_ > kMaxLineBytes) {
            // Past the limit the line is only looked for its end.
            std::string line = buffer_.substr(pos_, kMaxLineBytes);
            for (;;) {
                const auto end = buffer_.find('\n', pos_);
                if (end != std::string::npos) {
                    pos_ = end + 1;
                    break;
                }
                pos_ = buffer_.size();
                if (!fill()) break;
            }
            return line;
        }
        scanFrom = buffer_.size() - pos_;  // relative: fill() may move the bytes
        if (!fill()) break;
        scanFrom += pos_;
    }
    if (pos_ >= buffer_.size()) throw runError(err::PastEnd);
    std::string line = buffer_.substr(pos_);
    pos_ = buffer_.size();
    return line;
}

std::string BufferedTextStream::ReadAll() {
    requireOpen(true);
    while (fill()) {
    }
    std::string rest = buffer_.substr(pos_);
    pos_ = buffer_.size();
    return rest;
}

std::string BufferedTextStream::Read(std::size_t count) {
    requireOpen(true);
    while (buffer_.size() - pos_ < count && fill()) {
    }
    std::string part = buffer_.substr(pos_, count);
    pos_ += part.size();
    return part;
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

void BufferedTextStream::Close() {
    requireOpen(reading_);
    closeRaw();
}

void BufferedTextStream::requireOpen(bool forReading) const {
    if (!isOpen()) throw RunError{52, "Bad file name or number"};
    if (forReading != reading_) throw RunError{54, "Bad file mode"};
}

// Appends the next block to the buffer, dropping what was consumed first.
// False at the end of the file.
bool BufferedTextStream::fill() {
    if (eof_) return false;
    if (pos_ > 0) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kReadBlock);
    std::size_t got = 0;
    try {
        got = readRaw(buffer_.data() + old, kReadBlock);
    } catch (...) {
        buffer_.resize(old);
        throw;
    }
    buffer_.resize(old + got);
    if (got == 0) eof_ = true;
    return got > 0;
}
