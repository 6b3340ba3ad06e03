// Where to_json writes its text. A small output goes into a block the thread
// keeps and is copied into the bytes object at the end, a copy that stays in
// the cache. An output that outgrows the block moves into a bytes object
// once and is written there in place from then on, so a large output is not
// copied whole at the end (that copy cost a fifth of writing long texts).
// The bytes object starts at the size of the thread's last large output and
// an eighth more: a document written again needs no growing, and the
// allocator hands back the block of the last result, already faulted in,
// rather than mapping fresh pages. At the end its length is set, and its
// block is made smaller only when more than a quarter of its length is
// unused: a result keeps at most that much spare memory (a first large
// output, grown by doubling, may have made its block twice as large), and a
// document written again, into a block an eighth larger, is never cut.
// Attached use only: moving and growing call the interpreter's allocator.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "encode/out_buffer.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class JsonOutput {
public:
    JsonOutput() : block_(take_block()), out_(block_, kBlockBytes, OutBuffer::Storage{this, &grow}) {}
    ~JsonOutput() { keep_block(block_); }
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    OutBuffer& buffer() noexcept { return out_; }

    // The text written, as a new bytes object; null with the error set.
    PyObject* finish() {
        const auto size = static_cast<Py_ssize_t>(out_.size());
        if (!bytes_) return PyBytes_FromStringAndSize(block_, size);
        last_large_size() = out_.size();
        PyObject* bytes = bytes_.release();
        if (out_.capacity() - out_.size() <= out_.size() / 4) {
            // Cut where it stands, its block unchanged: a block made smaller
            // in place teaches the allocator, when it is freed, a mapping
            // threshold below the next call's request, and every call then
            // mapped (and faulted in) fresh pages.
            Py_SET_SIZE(bytes, size);
            PyBytes_AS_STRING(bytes)[size] = '\0';
            return bytes;
        }
        if (_PyBytes_Resize(&bytes, size) < 0) return nullptr;
        return bytes;
    }

private:
    static constexpr std::size_t kBlockBytes = std::size_t{64} << 10;

    // The thread's block, or a block of this call's own when a call made
    // from user code inside another has it.
    struct KeptBlock {
        char* data = nullptr;
        ~KeptBlock() { std::free(data); }
    };
    static KeptBlock& kept() noexcept {
        thread_local KeptBlock block;
        return block;
    }
    static char* take_block() {
        if (char* block = std::exchange(kept().data, nullptr)) return block;
        auto* block = static_cast<char*>(std::malloc(kBlockBytes));
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }
    static void keep_block(char* block) noexcept {
        if (kept().data == nullptr) {
            kept().data = block;
        } else {
            std::free(block);
        }
    }
    static std::size_t& last_large_size() noexcept {
        thread_local std::size_t size = 0;
        return size;
    }

    // The first call moves the `used` bytes out of the block into a new bytes
    // object; later ones grow that object (realloc, which extends in place or
    // remaps large blocks where it can).
    static char* grow(void* owner, std::size_t used, std::size_t& want) {
        auto* self = static_cast<JsonOutput*>(owner);
        if (!self->bytes_) {
            const std::size_t last = last_large_size();
            want = std::max(want, last + last / 8);
            self->bytes_ = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(want)));
            if (!self->bytes_) {
                PyErr_Clear();  // the buffer reports it as std::bad_alloc
                return nullptr;
            }
            std::memcpy(PyBytes_AS_STRING(self->bytes_.get()), self->block_, used);
            return PyBytes_AS_STRING(self->bytes_.get());
        }
        PyObject* bytes = self->bytes_.release();
        if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(want)) < 0) {
            PyErr_Clear();
            return nullptr;
        }
        self->bytes_ = PyRef::steal(bytes);
        return PyBytes_AS_STRING(bytes);
    }

    char* block_;
    PyRef bytes_;
    OutBuffer out_;
};

}  // namespace torvex::ffi
