// A temporary file holding queued media objects that do not fit the
// muxer's memory window. Created when first needed, removed when the store
// goes away.
#ifndef ASFWRITER_ASF_MUXER_SPILL_STORE_H
#define ASFWRITER_ASF_MUXER_SPILL_STORE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace asfw::asf {

class SpillStore {
public:
    explicit SpillStore(std::string path) : path_(std::move(path)) {}
    ~SpillStore();
    SpillStore(const SpillStore&) = delete;
    SpillStore& operator=(const SpillStore&) = delete;

    // Appends bytes; *offset receives where they went. False with error() on failure.
    bool append(const std::uint8_t* data, std::size_t size, std::uint64_t* offset);
    bool read(std::uint64_t offset, std::uint8_t* data, std::size_t size);
    // Closes and deletes the file.
    void remove();

    const std::string& path() const { return path_; }
    bool active() const { return fd_ >= 0; }
    std::uint64_t bytesWritten() const { return end_; }
    const std::string& error() const { return error_; }

private:
    bool open();

    std::string path_;
    int fd_ = -1;
    std::uint64_t end_ = 0;
    std::string error_;
};

}  // namespace asfw::asf

#endif
