// The file sink: appends through a buffer that only ever holds whole
// write() calls, so each packet the muxer hands over reaches the file in
// one piece.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "asf_muxer/asf_muxer.h"
#include "asf_muxer/file_sink.h"

namespace asfw::asf {

FileSink::FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path))
{
    buffer_.reserve(kBufferSize);
}

FileSink::~FileSink()
{
    flushBuffer();
    if (fd_ >= 0) ::close(fd_);
}

bool FileSink::fail(const std::string& what, int code)
{
    if (error_.empty()) error_ = what + " " + path_ + ": " + std::strerror(code);
    return false;
}

bool FileSink::writeFully(const std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write", n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FileSink::flushBuffer()
{
    if (buffer_.empty()) return error_.empty();
    const bool ok = error_.empty() && writeFully(buffer_.data(), buffer_.size(), written_);
    if (ok) written_ += buffer_.size();
    buffer_.clear();
    return ok;
}

bool FileSink::write(const void* data, std::size_t size)
{
    if (!error_.empty()) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (buffer_.size() + size > kBufferSize && !flushBuffer()) return false;
    if (size >= kBufferSize) {
        if (!writeFully(bytes, size, written_)) return false;
        written_ += size;
        return true;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool FileSink::writeAt(std::uint64_t offset, const void* data, std::size_t size)
{
    if (!flushBuffer()) return false;
    if (offset + size > written_) return fail("patch beyond the end of", EINVAL);
    return writeFully(static_cast<const std::uint8_t*>(data), size, offset);
}

std::uint64_t FileSink::size() const
{
    return written_ + buffer_.size();
}

bool FileSink::flush()
{
    if (!flushBuffer()) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return fail("cannot check", errno);
    if (info.st_nlink == 0 && S_ISREG(info.st_mode)) {
        error_ = "the output file " + path_ + " was removed while it was being written";
        return false;
    }
    return true;
}

std::string FileSink::error() const
{
    return error_;
}

std::unique_ptr<ByteSink> createFileSink(const std::string& path, std::string* error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FileSink>(fd, path);
}

}  // namespace asfw::asf
