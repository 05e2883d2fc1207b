// File commands. Files 0 to 127 are open to any session, 128 to 179 only to a session with the
// user logged in; 180 to 240 are key slots (only DeleteFile and GetFileSize apply to them).
#include "command_processor.h"
#include "device_protocol.h"

namespace tokensim {

namespace {

uint8_t ReadFileId(ByteReader& in) { return in.U8(); }

void CheckFileAccess(uint8_t id, const DeviceSession& s) {
  if (id > fileid::kLastKeySlot) throw DeviceStatus{st::kBadFileIndex};
  if ((fileid::IsPrivateFile(id) || fileid::IsKeySlot(id)) && !s.userLoggedIn) {
    throw DeviceStatus{st::kNotAuthorized};
  }
}

}  // namespace

void CommandProcessor::CheckFileSession(const SessionHandle& handle, uint8_t id) {
  CheckFileAccess(id, SessionOf(handle));
}

Bytes& CommandProcessor::DataFile(uint8_t id) {
  if (!fileid::IsFile(id)) throw DeviceStatus{st::kBadFileIndex};
  auto it = card_.state.files.find(id);
  if (it == card_.state.files.end()) throw DeviceStatus{st::kFileNotFound};
  return it->second;
}

Bytes CommandProcessor::CreateFile(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t id = ReadFileId(in);
  Finish(in);
  CheckFileSession(handle, id);
  if (!fileid::IsFile(id)) throw DeviceStatus{st::kBadFileIndex};
  if (card_.state.files.count(id) != 0) throw DeviceStatus{st::kFileExists};
  card_.state.files[id];
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::DeleteFile(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t id = ReadFileId(in);
  Finish(in);
  CheckFileSession(handle, id);
  size_t erased = fileid::IsKeySlot(id) ? card_.state.EraseKey(id) : card_.state.files.erase(id);
  if (erased == 0) throw DeviceStatus{st::kFileNotFound};
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::GetFileSize(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t id = ReadFileId(in);
  Finish(in);
  CheckFileSession(handle, id);
  if (fileid::IsKeySlot(id)) {
    // A key slot holds a key, not bytes: it exists with size 0.
    if (card_.state.keys.count(id) == 0) throw DeviceStatus{st::kFileNotFound};
    return ByteWriter().U16(0).Release();
  }
  auto it = card_.state.files.find(id);
  if (it == card_.state.files.end()) throw DeviceStatus{st::kFileNotFound};
  return ByteWriter().U16(static_cast<uint16_t>(it->second.size())).Release();
}

Bytes CommandProcessor::WriteFile(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t id = ReadFileId(in);
  uint16_t offset = in.U16();
  Bytes data = in.ShortBlock();
  Finish(in);
  CheckFileSession(handle, id);
  Bytes& file = DataFile(id);
  if (offset > file.size()) throw DeviceStatus{st::kInvalidOffset};  // no holes
  size_t end = size_t{offset} + data.size();
  if (end > TokenState::kMaxFileSize) throw DeviceStatus{st::kFileTooBig};
  if (end > file.size() && card_.state.UsedBytes() + (end - file.size()) > card_.state.capacity) {
    throw DeviceStatus{st::kInsufficientSpace};
  }
  if (end > file.size()) file.resize(end);
  std::copy(data.begin(), data.end(), file.begin() + offset);
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::ReadFile(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t id = ReadFileId(in);
  uint16_t offset = in.U16();
  uint8_t n = in.U8();
  Finish(in);
  CheckFileSession(handle, id);
  const Bytes& file = DataFile(id);
  if (size_t{offset} + n > file.size()) throw DeviceStatus{st::kInvalidOffset};
  return Bytes(file.begin() + offset, file.begin() + offset + n);
}

}  // namespace tokensim
