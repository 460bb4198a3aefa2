// A growable array of plain values for the large scratch buffers of an index
// build (every key of a table, the sort's work space). Past two megabytes it
// lives in its own mapping that asks the kernel for huge pages: a million-key
// build then touches a few hundred pages instead of some hundred thousand,
// each a fault.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace dbf {

namespace bigbuf {
// Raw blocks: `bytes` is rounded up as the block needs; release() takes the
// size that allocate() answered.
void* allocate(size_t& bytes);
void release(void* p, size_t bytes);
}  // namespace bigbuf

template <class T>
class BigArray {
    static_assert(std::is_trivially_copyable_v<T>, "BigArray holds plain values only");

  public:
    BigArray() = default;
    explicit BigArray(size_t n) { resize(n); }
    BigArray(BigArray&& o) noexcept
        : p_(std::exchange(o.p_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          cap_(std::exchange(o.cap_, 0)),
          bytes_(std::exchange(o.bytes_, 0)) {}
    BigArray& operator=(BigArray&& o) noexcept {
        if (this != &o) {
            free();
            p_ = std::exchange(o.p_, nullptr);
            size_ = std::exchange(o.size_, 0);
            cap_ = std::exchange(o.cap_, 0);
            bytes_ = std::exchange(o.bytes_, 0);
        }
        return *this;
    }
    BigArray(const BigArray&) = delete;
    BigArray& operator=(const BigArray&) = delete;
    ~BigArray() { free(); }

    void reserve(size_t n) {
        if (n <= cap_) return;
        size_t bytes = n * sizeof(T);
        T* q = static_cast<T*>(bigbuf::allocate(bytes));
        if (size_) std::memcpy(static_cast<void*>(q), p_, size_ * sizeof(T));
        free();
        p_ = q;
        bytes_ = bytes;
        cap_ = bytes / sizeof(T);
    }
    // New elements are zero bytes.
    void resize(size_t n) {
        if (n > cap_) reserve(n);
        if (n > size_) std::memset(static_cast<void*>(p_ + size_), 0, (n - size_) * sizeof(T));
        size_ = n;
    }
    void push_back(const T& v) {
        if (size_ == cap_) reserve(cap_ ? cap_ * 2 : 1024);
        p_[size_++] = v;
    }
    void append(const T* v, size_t n) {
        if (size_ + n > cap_) reserve(std::max(size_ + n, cap_ * 2));
        std::memcpy(static_cast<void*>(p_ + size_), v, n * sizeof(T));
        size_ += n;
    }

    T* data() { return p_; }
    const T* data() const { return p_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return p_[i]; }
    const T& operator[](size_t i) const { return p_[i]; }
    T* begin() { return p_; }
    T* end() { return p_ + size_; }
    const T* begin() const { return p_; }
    const T* end() const { return p_ + size_; }

  private:
    void free() {
        if (p_) bigbuf::release(p_, bytes_);
        p_ = nullptr;
        size_ = cap_ = bytes_ = 0;
    }
    T* p_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
    size_t bytes_ = 0;
};

}  // namespace dbf
