// The ByteSink on a file (see createFileSink).
#ifndef ASFWRITER_ASF_MUXER_FILE_SINK_H
#define ASFWRITER_ASF_MUXER_FILE_SINK_H

#include <cstdint>
#include <string>
#include <vector>

#include "asf_muxer/asf_muxer.h"

namespace asfw::asf {

class FileSink : public ByteSink {
public:
    FileSink(int fd, std::string path);
    ~FileSink() override;
    bool write(const void* data, std::size_t size) override;
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size) override;
    std::uint64_t size() const override;
    // Writes out the buffer; also fails when the file was deleted meanwhile.
    bool flush() override;
    std::string error() const override;

    const std::string& path() const { return path_; }

private:
    static constexpr std::size_t kBufferSize = 1u << 20;
    bool flushBuffer();
    bool writeFully(const std::uint8_t* data, std::size_t size, std::uint64_t offset);
    bool fail(const std::string& what, int code);

    int fd_;
    std::string path_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t written_ = 0;  // bytes in the file
    std::string error_;
};

}  // namespace asfw::asf

#endif
