// Bit writer for RBSP payloads and the NAL unit wrapping.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vcore {

// The bytes are written into a buffer kept between uses (len_ of them are
// valid); Trailing() trims it to them.
class BitWriter {
public:
    void Reset() { len_ = 0; acc_ = 0; n_ = 0; }

    // Writes the low `bits` bits of value (bits <= 32), MSB first.
    inline void Put(uint32_t value, int bits) {
        acc_ = (acc_ << bits) | (value & ((1ull << bits) - 1)); // nothing when bits is 0
        n_ += bits;
        if (n_ >= 32) {
            n_ -= 32;
            const uint32_t w = static_cast<uint32_t>(acc_ >> n_);
            if (len_ + 4 > buf_.size()) Grow();
            uint8_t* d = buf_.data() + len_;
            d[0] = static_cast<uint8_t>(w >> 24);
            d[1] = static_cast<uint8_t>(w >> 16);
            d[2] = static_cast<uint8_t>(w >> 8);
            d[3] = static_cast<uint8_t>(w);
            len_ += 4;
        }
    }
    inline void Bit(int b) { Put(b ? 1u : 0u, 1); }
    inline void Ue(uint32_t v) {
        const uint32_t x = v + 1;
        const int len = 31 - __builtin_clz(x); // x >= 1
        if (2 * len + 1 <= 32) {
            Put(x, 2 * len + 1);
        } else {
            Put(0, len);
            Put(x, len + 1);
        }
    }
    inline void Se(int v) { Ue(v <= 0 ? static_cast<uint32_t>(-2 * v) : static_cast<uint32_t>(2 * v - 1)); }
    // rbsp_trailing_bits: stop bit, zero bits to the byte boundary; flushes.
    void Trailing() {
        Put(1, 1);
        if (n_ & 7) Put(0, 8 - (n_ & 7));
        while (n_ >= 8) {
            n_ -= 8;
            if (len_ + 1 > buf_.size()) Grow();
            buf_[len_++] = static_cast<uint8_t>(acc_ >> n_);
        }
        buf_.resize(len_); // the capacity stays for the next use
    }
    uint64_t BitCount() const { return len_ * 8ull + static_cast<uint64_t>(n_); }
    // The `bits` bits (<= 32) written from bit position pos on (pos + bits <= BitCount()).
    uint32_t Read(uint64_t pos, int bits) const {
        uint64_t v = 0;
        const uint64_t inBuf = len_ * 8ull;
        if (pos + static_cast<uint64_t>(bits) <= inBuf && (pos >> 3) + 8 <= buf_.size()) {
            // eight bytes from the one holding pos, most significant first
            // (one load, its bytes reversed: the processor is little-endian)
            std::memcpy(&v, buf_.data() + (pos >> 3), 8);
            v = __builtin_bswap64(v);
            return static_cast<uint32_t>((v << (pos & 7)) >> (64 - bits));
        }
        while (bits > 0) {
            if (pos < inBuf) {
                const int off = static_cast<int>(pos & 7);
                const int take = std::min(bits, 8 - off);
                v = (v << take) | ((buf_[pos >> 3] >> (8 - off - take)) & ((1u << take) - 1));
                pos += take;
                bits -= take;
            } else {
                const int rest = n_ - static_cast<int>(pos - inBuf); // pending bits from pos on
                v = (v << bits) | ((acc_ >> (rest - bits)) & ((1ull << bits) - 1));
                bits = 0;
            }
        }
        return static_cast<uint32_t>(v);
    }
    // Appends the bits [from, to) of another writer.
    void Append(const BitWriter& o, uint64_t from, uint64_t to) {
        while (from < to) {
            const int n = static_cast<int>(std::min<uint64_t>(32, to - from));
            Put(o.Read(from, n), n);
            from += static_cast<uint64_t>(n);
        }
    }
    // Complete only after Trailing().
    const std::vector<uint8_t>& Bytes() const { return buf_; }

private:
    void Grow() { buf_.resize(std::max({buf_.capacity(), 2 * len_ + 8, static_cast<size_t>(256)})); }
    std::vector<uint8_t> buf_;
    size_t len_ = 0;
    uint64_t acc_ = 0;
    int n_ = 0;
};

static inline int UeBits(uint32_t v) {
    uint32_t x = v + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    return 2 * len + 1;
}
static inline int SeBits(int v) {
    return UeBits(v <= 0 ? static_cast<uint32_t>(-2 * v) : static_cast<uint32_t>(2 * v - 1));
}

// Where coded bytes go: a growing vector, or a buffer of fixed size (the
// bytes that do not fit are dropped and Overflowed() says so).
class ByteSink {
public:
    explicit ByteSink(std::vector<uint8_t>& v) : vec_(&v) {}
    ByteSink(uint8_t* p, size_t capacity) : p_(p), cap_(capacity) {}
    size_t size() const { return vec_ ? vec_->size() : n_; }
    void push_back(uint8_t b) {
        if (vec_) {
            vec_->push_back(b);
        } else if (n_ < cap_) {
            p_[n_++] = b;
        } else {
            overflow_ = true;
        }
    }
    // Room for n more bytes, written in place (Unextend gives back what was not
    // used); nullptr when a fixed buffer has not that much room left.
    uint8_t* Extend(size_t n) {
        if (vec_) {
            const size_t s = vec_->size();
            vec_->resize(s + n);
            return vec_->data() + s;
        }
        if (cap_ - n_ < n) return nullptr;
        n_ += n;
        return p_ + n_ - n;
    }
    void Unextend(size_t n) {
        if (vec_)
            vec_->resize(vec_->size() - n);
        else
            n_ -= n;
    }
    // Drops what was written after the first n bytes.
    void resize(size_t n) {
        if (vec_)
            vec_->resize(n);
        else if (n < n_)
            n_ = n;
    }
    bool Overflowed() const { return overflow_; }

private:
    std::vector<uint8_t>* vec_ = nullptr;
    uint8_t* p_ = nullptr;
    size_t cap_ = 0, n_ = 0;
    bool overflow_ = false;
};

// Gives put() the start code, the NAL header and the payload with emulation
// prevention bytes, one byte at a time.
template <class Put>
inline void EmitNal(int refIdc, int type, const std::vector<uint8_t>& rbsp, Put put) {
    put(0); put(0); put(0); put(1);
    put(static_cast<uint8_t>((refIdc << 5) | type));
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            put(3);
            zeros = 0;
        }
        put(b);
        zeros = (b == 0) ? zeros + 1 : 0;
    }
}

// Appends start code + NAL header + payload with emulation prevention bytes.
template <class Out>
inline void AppendNal(Out& out, int refIdc, int type, const std::vector<uint8_t>& rbsp) {
    EmitNal(refIdc, type, rbsp, [&out](uint8_t b) { out.push_back(b); });
}

// The same into a sink, written in place where it has room for the most the
// unit can take (an emulation prevention byte at most every second byte).
inline void AppendNal(ByteSink& out, int refIdc, int type, const std::vector<uint8_t>& rbsp) {
    const size_t most = 5 + rbsp.size() + rbsp.size() / 2 + 1;
    uint8_t* const d = out.Extend(most);
    if (!d) {
        AppendNal<ByteSink>(out, refIdc, type, rbsp);
        return;
    }
    uint8_t* p = d;
    *p++ = 0; *p++ = 0; *p++ = 0; *p++ = 1;
    *p++ = static_cast<uint8_t>((refIdc << 5) | type);
    // as EmitNal, eight bytes at a time where none of them is zero and
    // fewer than two zeros come before them (no emulation prevention byte
    // can go before or among them)
    const uint8_t* s = rbsp.data();
    const size_t n = rbsp.size();
    size_t i = 0;
    int zeros = 0;
    while (i < n) {
        if (i + 8 <= n && zeros < 2) {
            uint64_t v;
            std::memcpy(&v, s + i, 8);
            if (!((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull)) {
                std::memcpy(p, &v, 8);
                p += 8;
                i += 8;
                zeros = 0;
                continue;
            }
        }
        const size_t end = i + 8 < n ? i + 8 : n;
        for (; i < end; ++i) {
            const uint8_t b = s[i];
            if (zeros >= 2 && b <= 3) {
                *p++ = 3;
                zeros = 0;
            }
            *p++ = b;
            zeros = (b == 0) ? zeros + 1 : 0;
        }
    }
    out.Unextend(most - static_cast<size_t>(p - d));
}

} // namespace vcore
