// The emitters' output: one growable byte buffer (malloc/realloc, so large
// buffers grow without copying or zero-filling). Appends are a bounds check
// and a memcpy. The bytes can be read in place (data(), size()) or copied
// into a std::string with take(). A buffer can also write into storage that
// its owner allocates, grows and frees (Storage): the frame's bytes object,
// so that the output needs no copy at the end.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace torvex {

class OutBuffer {
public:
    // Storage of the owner's: `grow` moves the `used` bytes written so far
    // into a block of at least `want` bytes and returns it (raising `want` to
    // the block's size when it made a larger one), or returns null when it
    // cannot. The owner frees the storage; the buffer never does.
    struct Storage {
        void* owner = nullptr;
        char* (*grow)(void* owner, std::size_t used, std::size_t& want) = nullptr;
    };

    OutBuffer(char* data, std::size_t capacity, Storage storage) noexcept
        : buf_(data), cap_(capacity), storage_(storage) {}
    explicit OutBuffer(std::size_t initial = 1024) {
        if (initial) {
            buf_ = static_cast<char*>(std::malloc(initial));
            if (!buf_) throw std::bad_alloc();
            cap_ = initial;
        }
    }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;
    OutBuffer(OutBuffer&& o) noexcept
        : buf_(std::exchange(o.buf_, nullptr)),
          len_(std::exchange(o.len_, 0)),
          cap_(std::exchange(o.cap_, 0)),
          storage_(std::exchange(o.storage_, Storage{})) {}
    OutBuffer& operator=(OutBuffer&& o) noexcept {
        if (this != &o) {
            release();
            buf_ = std::exchange(o.buf_, nullptr);
            len_ = std::exchange(o.len_, 0);
            cap_ = std::exchange(o.cap_, 0);
            storage_ = std::exchange(o.storage_, Storage{});
        }
        return *this;
    }
    ~OutBuffer() { release(); }

    std::size_t size() const noexcept { return len_; }
    std::size_t capacity() const noexcept { return cap_; }
    char* data() noexcept { return buf_; }
    const char* data() const noexcept { return buf_; }
    std::string_view view() const noexcept { return {buf_, len_}; }
    char back() const noexcept { return len_ ? buf_[len_ - 1] : '\0'; }

    // Room for n more bytes; returns where they go. Commit them with advance().
    char* reserve(std::size_t n) {
        if (cap_ - len_ < n) [[unlikely]]
            grow(n);
        return buf_ + len_;
    }
    void advance(std::size_t n) noexcept { len_ += n; }

    void put(char c) {
        reserve(1)[0] = c;
        ++len_;
    }
    void append(const char* p, std::size_t n) {
        if (n == 0) return;
        std::memcpy(reserve(n), p, n);
        len_ += n;
    }
    void append(std::string_view s) { append(s.data(), s.size()); }
    void spaces(std::size_t n) {
        if (n == 0) return;
        std::memset(reserve(n), ' ', n);
        len_ += n;
    }
    // Inserts bytes at an earlier position (rare: explicit keys).
    void insert(std::size_t pos, std::string_view s) {
        reserve(s.size());
        std::memmove(buf_ + pos + s.size(), buf_ + pos, len_ - pos);
        std::memcpy(buf_ + pos, s.data(), s.size());
        len_ += s.size();
    }
    void truncate(std::size_t n) noexcept {
        if (n < len_) len_ = n;
    }

    // Bytes written since the last line feed.
    std::size_t column() const noexcept {
        const void* lf = len_ ? memrchr(buf_, '\n', len_) : nullptr;
        return lf ? len_ - static_cast<std::size_t>(static_cast<const char*>(lf) - buf_) - 1 : len_;
    }
    // Start of the current line.
    std::size_t line_start() const noexcept { return len_ - column(); }

    std::string take() && { return std::string(buf_, len_); }

private:
    void grow(std::size_t n) {
        std::size_t want = cap_ ? cap_ * 2 : 1024;
        if (want < len_ + n) want = len_ + n;
        char* p = storage_.grow ? storage_.grow(storage_.owner, len_, want)
                                : static_cast<char*>(std::realloc(buf_, want));
        if (!p) throw std::bad_alloc();
        buf_ = p;
        cap_ = want;
    }

    void release() noexcept {
        if (!storage_.grow) std::free(buf_);
    }

    char* buf_ = nullptr;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
    Storage storage_;
};

}  // namespace torvex
