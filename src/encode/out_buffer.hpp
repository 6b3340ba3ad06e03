// The emitters' output: one growable byte buffer. The string is kept sized to
// its capacity and `len_` marks the bytes written, so appends are a bounds
// check and a memcpy; take() trims it to the written length.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace torvex {

class OutBuffer {
public:
    explicit OutBuffer(std::size_t initial = 1024) { buf_.resize(initial); }

    std::size_t size() const noexcept { return len_; }
    char* data() noexcept { return buf_.data(); }
    const char* data() const noexcept { return buf_.data(); }
    std::string_view view() const noexcept { return {buf_.data(), len_}; }
    char back() const noexcept { return len_ ? buf_[len_ - 1] : '\0'; }

    // Room for n more bytes; returns where they go. Commit them with advance().
    char* reserve(std::size_t n) {
        if (buf_.size() - len_ < n) [[unlikely]]
            grow(n);
        return buf_.data() + len_;
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
        std::memmove(buf_.data() + pos + s.size(), buf_.data() + pos, len_ - pos);
        std::memcpy(buf_.data() + pos, s.data(), s.size());
        len_ += s.size();
    }
    void truncate(std::size_t n) noexcept {
        if (n < len_) len_ = n;
    }

    // Bytes written since the last line feed.
    std::size_t column() const noexcept {
        const void* lf = len_ ? memrchr(buf_.data(), '\n', len_) : nullptr;
        return lf ? len_ - (static_cast<const char*>(lf) - buf_.data()) - 1 : len_;
    }
    // Start of the current line.
    std::size_t line_start() const noexcept { return len_ - column(); }

    std::string take() && {
        buf_.resize(len_);
        return std::move(buf_);
    }

private:
    void grow(std::size_t n) {
        std::size_t want = buf_.size() * 2;
        if (want < len_ + n) want = len_ + n;
        buf_.resize(want);
    }

    std::string buf_;
    std::size_t len_ = 0;
};

}  // namespace torvex
