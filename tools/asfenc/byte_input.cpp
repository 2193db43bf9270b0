#include "byte_input.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cerrno>
#include <chrono>
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

struct PipeDrain::State {
    ByteInput& source;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::vector<std::uint8_t>> chunks;
    std::size_t offset = 0;  // bytes of chunks.front() already read
    bool ended = false;
    bool failed = false;
    bool stopping = false;
    std::thread thread;

    explicit State(ByteInput& s) : source(s) {}

    void drain()
    {
        for (;;) {
            std::vector<std::uint8_t> chunk(65536);
            const std::size_t got = source.read(chunk.data(), chunk.size());
            std::lock_guard<std::mutex> lock(mutex);
            if (got > 0) {
                chunk.resize(got);
                chunks.push_back(std::move(chunk));
            }
            if (got == 0 || stopping) {
                ended = true;
                failed = source.failed();
                arrived.notify_all();
                return;
            }
            arrived.notify_all();
        }
    }
};

namespace {

// Interrupts a read the drain thread is blocked in (installed without
// SA_RESTART, so the read returns).
void wakeUp(int) {}

}  // namespace

PipeDrain::PipeDrain(ByteInput& source) : state_(std::make_unique<State>(source))
{
    struct sigaction action {};
    action.sa_handler = wakeUp;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, nullptr);
    state_->thread = std::thread([s = state_.get()] { s->drain(); });
}

PipeDrain::~PipeDrain()
{
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    while (!state_->ended) {
        pthread_kill(state_->thread.native_handle(), SIGUSR1);
        state_->arrived.wait_for(lock, std::chrono::milliseconds(10));
    }
    lock.unlock();
    state_->thread.join();
}

std::size_t PipeDrain::read(void* data, std::size_t size)
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->arrived.wait(lock, [&] { return !state_->chunks.empty() || state_->ended; });
    std::size_t done = 0;
    while (done < size && !state_->chunks.empty()) {
        std::vector<std::uint8_t>& front = state_->chunks.front();
        const std::size_t n = std::min(size - done, front.size() - state_->offset);
        std::memcpy(out + done, front.data() + state_->offset, n);
        done += n;
        state_->offset += n;
        if (state_->offset == front.size()) {
            state_->chunks.pop_front();
            state_->offset = 0;
        }
    }
    return done;
}

bool PipeDrain::failed() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->failed && state_->chunks.empty();
}

std::size_t MemoryInput::read(void* data, std::size_t size)
{
    const std::size_t n = std::min(size, size_ - position_);
    if (n > 0) std::memcpy(data, data_ + position_, n);
    position_ += n;
    return n;
}

}  // namespace asfenc
