#include "byte_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace asfenc {

std::size_t ByteInput::readFully(void* data, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = read(out + done, size - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

std::uint64_t ByteInput::skip(std::uint64_t size)
{
    unsigned char scratch[16384];
    std::uint64_t done = 0;
    while (done < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof scratch, size - done));
        const std::size_t got = readFully(scratch, want);
        done += got;
        if (got < want) break;
    }
    return done;
}

FileInput::~FileInput()
{
    if (file_ != nullptr && ownsFile_) std::fclose(file_);
}

bool FileInput::open(const std::string& path, std::string& error)
{
    if (path == "-") {
        file_ = stdin;
        ownsFile_ = false;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) {
            error = "cannot open '" + path + "': " + std::strerror(errno);
            return false;
        }
        ownsFile_ = true;
    }
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = "'" + path + "' is a folder, not a file";
            return false;
        }
        regular_ = S_ISREG(info.st_mode);
        if (regular_) size_ = static_cast<std::int64_t>(info.st_size);
    }
    return true;
}

std::size_t FileInput::read(void* data, std::size_t size)
{
    if (file_ == nullptr || size == 0) return 0;
    return std::fread(data, 1, size, file_);
}

bool FileInput::failed() const
{
    return file_ != nullptr && std::ferror(file_) != 0;
}

bool FileInput::rewind()
{
    if (file_ == nullptr || !regular_) return false;
    std::clearerr(file_);
    return fseeko(file_, 0, SEEK_SET) == 0;
}

std::size_t MemoryInput::read(void* data, std::size_t size)
{
    const std::size_t n = std::min(size, size_ - position_);
    if (n > 0) std::memcpy(data, data_ + position_, n);
    position_ += n;
    return n;
}

}  // namespace asfenc
