#include "device_protocol.h"

namespace tokensim {

const char* CommandName(uint8_t command) {
  switch (command) {
    case cmd::kCreateFile: return "CreateFile";
    case cmd::kDeleteFile: return "DeleteFile";
    case cmd::kGetFileSize: return "GetFileSize";
    case cmd::kWriteFile: return "WriteFile";
    case cmd::kReadFile: return "ReadFile";
    case cmd::kGetAttr: return "GetAttr";
    case cmd::kSetAttr: return "SetAttr";
    case cmd::kTestResponseDelay: return "TestResponseDelay";
    case cmd::kSetResponseDelay: return "SetResponseDelay";
    case cmd::kInitSOPIN: return "InitSOPIN";
    case cmd::kInitUserPIN: return "InitUserPIN";
    case cmd::kChangeSOPIN: return "ChangeSOPIN";
    case cmd::kChangeUserPIN: return "ChangeUserPIN";
    case cmd::kCheckSOPIN: return "CheckSOPIN";
    case cmd::kCheckUserPIN: return "CheckUserPIN";
    case cmd::kOpenSession: return "OpenSession";
    case cmd::kCloseSession: return "CloseSession";
    case cmd::kLogin: return "Login";
    case cmd::kLogout: return "Logout";
    case cmd::kGetSessionState: return "GetSessionState";
    case cmd::kGetFirmwareIntegrityCode: return "GetFirmwareIntegrityCode";
    case cmd::kResetDevice: return "ResetDevice";
    case cmd::kSetMaxAuthCtr: return "SetMaxAuthCtr";
    case cmd::kGetRand: return "GetRand";
    case cmd::kGenerateKey: return "GenerateKey";
    case cmd::kSign: return "Sign";
    case cmd::kVerify: return "Verify";
    case cmd::kGetCommonKey: return "GetCommonKey";
    case cmd::kEncrypt: return "Encrypt";
    case cmd::kDecrypt: return "Decrypt";
    case cmd::kLoadKey: return "LoadKey";
    default: return "Unknown";
  }
}

}  // namespace tokensim
