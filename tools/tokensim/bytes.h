// Byte strings of the simulated token: a cursor that reads request fields (little-endian) and
// refuses to run past the end, a writer for answer fields, and hex conversion for traces,
// the control protocol and the state file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tokensim {

using Bytes = std::vector<uint8_t>;

// Thrown when a request field runs past the data it came in.
struct TruncatedField : std::runtime_error {
  TruncatedField() : std::runtime_error("field runs past the request") {}
};

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const Bytes& b) : ByteReader(b.data(), b.size()) {}

  uint8_t U8();
  uint16_t U16();  // little-endian
  uint32_t U32();  // little-endian
  Bytes Take(size_t n);
  Bytes ShortBlock() { return Take(U8()); }   // 1-byte length + bytes
  Bytes LongBlock() { return Take(U16()); }   // u16 length + bytes
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }

 private:
  void Need(size_t n) const {
    if (size_ - pos_ < n) throw TruncatedField();
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class ByteWriter {
 public:
  ByteWriter& U8(uint8_t v);
  ByteWriter& U16(uint16_t v);
  ByteWriter& U32(uint32_t v);
  ByteWriter& Append(const Bytes& b);
  ByteWriter& LongBlock(const Bytes& b) { return U16(static_cast<uint16_t>(b.size())).Append(b); }
  const Bytes& Get() const { return out_; }
  Bytes Release() { return std::move(out_); }

 private:
  Bytes out_;
};

std::string ToHex(const uint8_t* data, size_t size);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }
// Accepts upper or lower case, ignores blanks; false on an odd count or a non-hex character.
bool FromHex(const std::string& text, Bytes& out);

// A byte string that is wiped when it changes or goes away (PINs).
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(Bytes b) : b_(std::move(b)) {}
  SecretBytes(const SecretBytes& o) : b_(o.b_) {}
  SecretBytes& operator=(const SecretBytes& o) {
    if (this != &o) { Wipe(); b_ = o.b_; }
    return *this;
  }
  ~SecretBytes() { Wipe(); }
  void Assign(const Bytes& b) { Wipe(); b_ = b; }
  const Bytes& Get() const { return b_; }
  bool Empty() const { return b_.empty(); }
  void Wipe();
  // Constant-time for equal lengths.
  bool Equals(const Bytes& other) const;

 private:
  Bytes b_;
};

}  // namespace tokensim
