// The text-stream rules every backend shares, over three raw operations.
// May contain: portable buffering only; each backend supplies the system calls.
#pragma once

#include <cstddef>
#include <string>

#include "platform/filesystem.h"

/// A text stream read in blocks and written line by line: lines end at LF
/// (one CR before it is dropped), a last line without LF is still a line, and
/// a line with its CR LF goes to the system in one write, so a process that
/// dies later has lost nothing it logged.
class BufferedTextStream : public TextStream {
public:
    explicit BufferedTextStream(bool forReading) : reading_(forReading) {}

    bool AtEndOfStream() override;
    std::string ReadLine() override;
    std::string ReadAll() override;
    std::string Read(std::size_t count) override;
    void Write(const std::string& text) override;
    void WriteLine(const std::string& text) override;
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
    bool fill();

    bool reading_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
};
