// Key commands: the slot's key and the algorithms come from the on-token cryptography; this
// file checks sessions, logins, key slots and what the model and firmware support.
#include "command_processor.h"
#include "crypto/token_crypto.h"
#include "device_protocol.h"

namespace tokensim {

namespace {

void RequireKeySlot(uint8_t slot) {
  if (!fileid::IsKeySlot(slot)) throw DeviceStatus{st::kBadFileIndex};
}

void Check(uint8_t status) {
  if (status != crypto::status::kOk) throw DeviceStatus{status};
}

}  // namespace

const crypto::KeySlot& CommandProcessor::KeyIn(uint8_t slot) const {
  RequireKeySlot(slot);
  auto it = card_.state.keys.find(slot);
  if (it == card_.state.keys.end()) throw DeviceStatus{st::kFileNotFound};
  return it->second;
}

void CommandProcessor::RequireParamSet(uint8_t paramSet) const {
  if (!card_.state.SupportsParamSet(paramSet)) throw DeviceStatus{st::kUnsupportedParamSet};
}

void CommandProcessor::KeepKey(uint8_t slot, uint8_t paramSet, crypto::KeySlot key) {
  key.paramSet = paramSet;
  card_.state.StoreKey(slot, std::move(key));  // a slot no index names may be taken again: overwrite
  card_.contentChanged = true;
}

Bytes CommandProcessor::KeyOperation(ByteReader& in,
                                     uint8_t (*operation)(const crypto::KeySlot&, const Bytes&, Bytes&)) {
  SessionHandle handle = ReadHandle(in);
  uint8_t slot = in.U8();
  Bytes data = in.LongBlock();
  Finish(in);
  UserSessionOf(handle);
  const crypto::KeySlot& key = KeyIn(slot);
  Bytes result;
  Check(operation(key, data, result));
  return ByteWriter().LongBlock(result).Release();
}

Bytes CommandProcessor::GenerateKey(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t paramSet = in.U8();
  uint8_t slot = in.U8();
  Finish(in);
  UserSessionOf(handle);
  RequireKeySlot(slot);
  RequireParamSet(paramSet);
  crypto::KeySlot key;
  Check(crypto::GenerateKey(paramSet, key));
  Bytes publicKey = key.publicKey;
  KeepKey(slot, paramSet, std::move(key));
  return ByteWriter().LongBlock(publicKey).Release();
}

Bytes CommandProcessor::LoadKey(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t paramSet = in.U8();
  Bytes blob = in.LongBlock();
  uint8_t slot = in.U8();
  Finish(in);
  UserSessionOf(handle);
  RequireKeySlot(slot);
  RequireParamSet(paramSet);
  crypto::KeySlot key;
  Check(crypto::LoadKey(paramSet, blob, key));
  KeepKey(slot, paramSet, std::move(key));
  return {};
}

Bytes CommandProcessor::Sign(ByteReader& in) { return KeyOperation(in, &crypto::Sign); }

Bytes CommandProcessor::Verify(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t paramSet = in.U8();
  Bytes publicKey = in.LongBlock();
  Bytes signature = in.LongBlock();
  Bytes data = in.LongBlock();
  Finish(in);
  SessionOf(handle);
  RequireParamSet(paramSet);
  Check(crypto::Verify(paramSet, publicKey, signature, data));
  return {};
}

Bytes CommandProcessor::Encrypt(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t paramSet = in.U8();
  Bytes publicKey = in.LongBlock();
  Bytes data = in.LongBlock();
  in.Take(2);  // filler
  Finish(in);
  SessionOf(handle);
  RequireParamSet(paramSet);
  Bytes result;
  Check(crypto::Encrypt(paramSet, publicKey, data, result));
  return ByteWriter().LongBlock(result).Release();
}

Bytes CommandProcessor::Decrypt(ByteReader& in) { return KeyOperation(in, &crypto::Decrypt); }

Bytes CommandProcessor::GetCommonKey(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t slot = in.U8();
  Bytes peer = in.LongBlock();
  uint8_t cofactor = in.U8();
  Bytes first = in.LongBlock();
  uint32_t word = in.U32();
  Bytes second = in.LongBlock();
  Finish(in);
  UserSessionOf(handle);
  if (!card_.state.SupportsKeyAgreement()) throw DeviceStatus{st::kNotImplemented};
  const crypto::KeySlot& key = KeyIn(slot);
  Bytes shared;
  Check(crypto::GetCommonKey(key, peer, cofactor, first, word, second, shared));
  return ByteWriter().LongBlock(shared).Release();
}

}  // namespace tokensim
