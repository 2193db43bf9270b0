// The file sink: every append goes to the file at once, in one piece, so
// that each packet the muxer hands over is in the file as soon as it is
// finished (a host killed at any moment loses only the packet still being
// filled), and a failing disk is reported by the write that meets it. An
// append that fails part-way is cut back off, so the file ends after the
// last whole append. The file being removed (alone or with its folder) is
// noticed within a few appends.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "asf_muxer/asf_muxer.h"
#include "asf_muxer/file_sink.h"

namespace asfw::asf {

FileSink::FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

FileSink::~FileSink()
{
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

bool FileSink::stillThere()
{
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return fail("cannot check", errno);
    if (info.st_nlink == 0 && S_ISREG(info.st_mode)) {
        if (error_.empty()) error_ = "the output file " + path_ + " was removed while it was being written";
        return false;
    }
    return true;
}

bool FileSink::write(const void* data, std::size_t size)
{
    if (!error_.empty()) return false;
    if (!writeFully(static_cast<const std::uint8_t*>(data), size, written_)) {
        // Part of it may have gone in: the file ends after the last whole append.
        if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
            // Nothing more to do: the reader skips a torn packet at the end.
        }
        return false;
    }
    written_ += size;
    // Whether the file is still there, every few appends (a check costs
    // about as much as a packet's write).
    return ++appends_ % kAppendsPerCheck != 0 || stillThere();
}

bool FileSink::writeAt(std::uint64_t offset, const void* data, std::size_t size)
{
    if (!error_.empty()) return false;
    if (offset + size > written_) return fail("patch beyond the end of", EINVAL);
    return writeFully(static_cast<const std::uint8_t*>(data), size, offset);
}

std::uint64_t FileSink::size() const
{
    return written_;
}

bool FileSink::flush()
{
    if (!error_.empty()) return false;
    return stillThere();
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
