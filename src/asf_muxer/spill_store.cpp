#include "asf_muxer/spill_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace asfw::asf {

SpillStore::~SpillStore()
{
    remove();
}

bool SpillStore::open()
{
    if (path_.empty()) {
        std::error_code ec;
        const auto dir = std::filesystem::temp_directory_path(ec);
        path_ = (ec ? std::filesystem::path("/tmp") : dir).string() + "/asfw-spill-XXXXXX";
        std::string pattern = path_;
        fd_ = mkstemp(pattern.data());
        path_ = pattern;
    } else {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    if (fd_ < 0) {
        error_ = "cannot create the temporary file " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SpillStore::append(const std::uint8_t* data, std::size_t size, std::uint64_t* offset)
{
    if (fd_ < 0 && !open()) return false;
    *offset = end_;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(end_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "cannot write the temporary file " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    end_ += size;
    return true;
}

bool SpillStore::read(std::uint64_t offset, std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "cannot read the temporary file " + path_ + ": " + (n < 0 ? std::strerror(errno) : "short file");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void SpillStore::remove()
{
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
    end_ = 0;
}

}  // namespace asfw::asf
