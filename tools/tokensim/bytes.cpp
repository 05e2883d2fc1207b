#include "bytes.h"

namespace tokensim {

uint8_t ByteReader::U8() {
  Need(1);
  return data_[pos_++];
}

uint16_t ByteReader::U16() {
  Need(2);
  uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
  pos_ += 2;
  return v;
}

uint32_t ByteReader::U32() {
  Need(4);
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | data_[pos_ + i];
  pos_ += 4;
  return v;
}

Bytes ByteReader::Take(size_t n) {
  Need(n);
  Bytes b(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return b;
}

ByteWriter& ByteWriter::U8(uint8_t v) {
  out_.push_back(v);
  return *this;
}

ByteWriter& ByteWriter::U16(uint16_t v) {
  out_.push_back(static_cast<uint8_t>(v));
  out_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

ByteWriter& ByteWriter::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

ByteWriter& ByteWriter::Append(const Bytes& b) {
  out_.insert(out_.end(), b.begin(), b.end());
  return *this;
}

std::string ToHex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    s.push_back(kDigits[data[i] >> 4]);
    s.push_back(kDigits[data[i] & 15]);
  }
  return s;
}

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool FromHex(const std::string& text, Bytes& out) {
  Bytes b;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') continue;
    int v = HexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      b.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  out = std::move(b);
  return true;
}

void SecretBytes::Wipe() {
  volatile uint8_t* p = b_.data();
  for (size_t i = 0; i < b_.size(); ++i) p[i] = 0;
  b_.clear();
}

bool SecretBytes::Equals(const Bytes& other) const {
  if (other.size() != b_.size()) return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < b_.size(); ++i) diff |= static_cast<uint8_t>(b_[i] ^ other[i]);
  return diff == 0;
}

}  // namespace tokensim
