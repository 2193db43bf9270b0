// The ByteSink on a file (see createFileSink). Appends are not buffered:
// each reaches the file before write() returns.
#ifndef ASFWRITER_ASF_MUXER_FILE_SINK_H
#define ASFWRITER_ASF_MUXER_FILE_SINK_H

#include <cstdint>
#include <string>

#include "asf_muxer/asf_muxer.h"

namespace asfw::asf {

class FileSink : public ByteSink {
public:
    FileSink(int fd, std::string path);
    ~FileSink() override;
    bool write(const void* data, std::size_t size) override;
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size) override;
    std::uint64_t size() const override;
    // Fails when the file was removed meanwhile (as write() does).
    bool flush() override;
    std::string error() const override;

    const std::string& path() const { return path_; }

private:
    static constexpr unsigned kAppendsPerCheck = 8;
    bool stillThere();
    bool writeFully(const std::uint8_t* data, std::size_t size, std::uint64_t offset);
    bool fail(const std::string& what, int code);

    int fd_;
    std::string path_;
    std::uint64_t written_ = 0;  // bytes in the file
    unsigned appends_ = 0;
    std::string error_;
};

}  // namespace asfw::asf

#endif
