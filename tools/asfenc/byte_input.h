// Sources of input bytes for the readers: a file, standard input, or a
// block of memory (tests and fuzz targets).
#ifndef ASFENC_BYTE_INPUT_H
#define ASFENC_BYTE_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace asfenc {

class ByteInput {
public:
    virtual ~ByteInput() = default;
    // Reads up to `size` bytes; fewer only at the end of the input or on a
    // read error (see failed()).
    virtual std::size_t read(void* data, std::size_t size) = 0;
    // True once a read failed for a reason other than reaching the end.
    virtual bool failed() const = 0;
    // True when rewind() can go back to the first byte (a regular file or memory).
    virtual bool canRewind() const = 0;
    virtual bool rewind() = 0;
    // Size of the whole input when known (a regular file, memory), else -1.
    virtual std::int64_t knownSize() const = 0;

    // Reads exactly `size` bytes; returns how many arrived (less at the end).
    std::size_t readFully(void* data, std::size_t size);
    // Reads and drops `size` bytes; returns how many were dropped.
    std::uint64_t skip(std::uint64_t size);
};

class FileInput final : public ByteInput {
public:
    FileInput() = default;
    ~FileInput() override;
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    // Opens `path` for reading; "-" is standard input. On failure returns
    // false with a message naming the file.
    bool open(const std::string& path, std::string& error);

    std::size_t read(void* data, std::size_t size) override;
    bool failed() const override;
    bool canRewind() const override { return regular_; }
    bool rewind() override;
    std::int64_t knownSize() const override { return size_; }

private:
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    bool regular_ = false;
    std::int64_t size_ = -1;
};

// Drains another input (a pipe) on a thread of its own into memory, so that a
// program writing two pipes in its own interleaving never waits on the one
// this program is not reading at the moment. What arrived is kept until it
// is read.
class PipeDrain final : public ByteInput {
public:
    explicit PipeDrain(ByteInput& source);
    ~PipeDrain() override;
    PipeDrain(const PipeDrain&) = delete;
    PipeDrain& operator=(const PipeDrain&) = delete;

    std::size_t read(void* data, std::size_t size) override;
    bool failed() const override;
    bool canRewind() const override { return false; }
    bool rewind() override { return false; }
    std::int64_t knownSize() const override { return -1; }

private:
    struct State;
    std::unique_ptr<State> state_;
};

class MemoryInput final : public ByteInput {
public:
    MemoryInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit MemoryInput(const std::vector<std::uint8_t>& bytes) : MemoryInput(bytes.data(), bytes.size()) {}

    std::size_t read(void* data, std::size_t size) override;
    bool failed() const override { return false; }
    bool canRewind() const override { return true; }
    bool rewind() override { position_ = 0; return true; }
    std::int64_t knownSize() const override { return static_cast<std::int64_t>(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace asfenc

#endif
