// The text-stream rules every backend shares, over three raw operations.
// May contain: portable buffering only; each backend supplies the system calls.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/filesystem.h"

/// How many bytes a text stream asks of the system at once: large enough
/// that the system calls cost little beside the scan of the bytes, small
/// enough to stay in the processor's cache while they are scanned.
inline constexpr std::size_t kTextReadBlock = 256 * 1024;

/// A text stream read in blocks and written line by line: lines end at LF
/// (one CR before it is dropped), a last line without LF is still a line, and
/// a line with its CR LF goes to the system in one write, so a process that
/// dies later has lost nothing it logged. Lines are found in the block as it
/// was read (64 bytes at a time where the build has SSE2, else memchr)
/// and handed out as views of it, so reading a file line by line costs one
/// pass over its bytes and no copy. The buffer holds at most one block beside
/// the longest line kept (kMaxLineBytes).
class BufferedTextStream : public TextStream {
public:
    explicit BufferedTextStream(bool forReading) : reading_(forReading) {}

    bool AtEndOfStream() override;
    std::string ReadLine() override;
    std::size_t ReadLines(std::string_view* lines, std::size_t max) override;
    bool ReadView(std::string_view& bytes) override;
    std::string ReadAll() override;
    void Write(const std::string& text) override;
    void WriteLine(const std::string& text) override;
    void WriteLines(const std::vector<std::string>& texts) override;
    void Close() override;

protected:
    /// Reads at most `size` bytes into `data`; 0 at the end. Raises RunError.
    virtual std::size_t readRaw(char* data, std::size_t size) = 0;
    /// Writes all `size` bytes. Raises RunError.
    virtual void writeRaw(const char* data, std::size_t size) = 0;
    virtual bool isOpen() const = 0;
    /// Releases the file; nothing when it is closed already.
    virtual void closeRaw() = 0;

private:
    void requireOpen(bool forReading) const;
    void compact();
    bool fill();
    bool readLineView(std::string_view& line);
    std::string_view skipLongLine();

    bool reading_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // first byte not yet handed out
    std::size_t end_ = 0;    // end of the bytes read
    bool eof_ = false;
};
