// Executes the token's commands on one simulated card: the request is the APDU data field
// (01, command byte, fields), the answer a status byte and the answer fields.
#pragma once

#include <cstdint>

#include "bytes.h"
#include "session_table.h"
#include "token_state.h"

namespace tokensim {

// One card as the reader sees it: what it keeps, and what lives only while it is powered.
struct Card {
  TokenState state;
  SessionTable sessions;
  size_t sessionLimit = 16;
  unsigned responseDelayMs = 0;   // set by SetResponseDelay, until power-off
  bool contentChanged = false;    // set when `state` changed and should be saved
};

struct Answer {
  uint8_t status = 0;
  Bytes fields;
};

class CommandProcessor {
 public:
  explicit CommandProcessor(Card& card) : card_(card) {}
  Answer Execute(const Bytes& data);

 private:
  using Handler = Bytes (CommandProcessor::*)(ByteReader&);
  static Handler Find(uint8_t command);

  // Sessions and device attributes (command_processor.cpp).
  Bytes OpenSession(ByteReader& in);
  Bytes CloseSession(ByteReader& in);
  Bytes Login(ByteReader& in);
  Bytes Logout(ByteReader& in);
  Bytes GetSessionState(ByteReader& in);
  Bytes GetAttr(ByteReader& in);
  Bytes SetAttr(ByteReader& in);
  Bytes TestResponseDelay(ByteReader& in);
  Bytes SetResponseDelay(ByteReader& in);
  Bytes GetFirmwareIntegrityCode(ByteReader& in);
  Bytes ResetDevice(ByteReader& in);
  Bytes GetRand(ByteReader& in);
  // Files (command_processor_files.cpp).
  Bytes CreateFile(ByteReader& in);
  Bytes DeleteFile(ByteReader& in);
  Bytes GetFileSize(ByteReader& in);
  Bytes WriteFile(ByteReader& in);
  Bytes ReadFile(ByteReader& in);
  // PINs (command_processor_pins.cpp).
  Bytes InitSOPIN(ByteReader& in);
  Bytes InitUserPIN(ByteReader& in);
  Bytes ChangeSOPIN(ByteReader& in);
  Bytes ChangeUserPIN(ByteReader& in);
  Bytes CheckSOPIN(ByteReader& in);
  Bytes CheckUserPIN(ByteReader& in);
  Bytes SetMaxAuthCtr(ByteReader& in);
  // Keys (command_processor_keys.cpp).
  Bytes GenerateKey(ByteReader& in);
  Bytes LoadKey(ByteReader& in);
  Bytes Sign(ByteReader& in);
  Bytes Verify(ByteReader& in);
  Bytes Encrypt(ByteReader& in);
  Bytes Decrypt(ByteReader& in);
  Bytes GetCommonKey(ByteReader& in);

  // Shared checks; each throws DeviceStatus on failure.
  // Requests are parsed whole before anything is checked, so a malformed request always
  // answers "bad length", whatever else is wrong with it.
  static SessionHandle ReadHandle(ByteReader& in);
  DeviceSession& SessionOf(const SessionHandle& handle);
  DeviceSession& UserSessionOf(const SessionHandle& handle);  // the user must be logged in
  static void Finish(const ByteReader& in);       // nothing may follow the fields
  void CheckPin(PinState& pin, uint32_t maxTries, const Bytes& given);
  static void CheckNewPinLength(const Bytes& pin);
  void RequireInitialized() const;
  const crypto::KeySlot& KeyIn(uint8_t slot) const;
  void RequireParamSet(uint8_t paramSet) const;
  // A file request's session: the session, then the file's access rule.
  void CheckFileSession(const SessionHandle& handle, uint8_t id);
  // A data file (not a key slot) that exists: kBadFileIndex, else kFileNotFound.
  Bytes& DataFile(uint8_t id);
  // A request of handle, key slot and data that the slot's key answers with one block.
  Bytes KeyOperation(ByteReader& in, uint8_t (*operation)(const crypto::KeySlot&, const Bytes&, Bytes&));
  // Keeps a new key of the parameter set in its slot.
  void KeepKey(uint8_t slot, uint8_t paramSet, crypto::KeySlot key);

  Card& card_;
};

// Thrown by the handlers to answer with a status and no fields.
struct DeviceStatus {
  uint8_t status;
};

}  // namespace tokensim
