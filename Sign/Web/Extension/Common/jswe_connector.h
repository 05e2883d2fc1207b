#ifndef SIGN_WEB_EXTENSION_COMMON_JSWE_CONNECTOR_H
#define SIGN_WEB_EXTENSION_COMMON_JSWE_CONNECTOR_H

#include "Extension/Common/ijswe_connector_delegate.h"

// Text protocol between page script and the signing service. Control words ("info", "next",
// "rset", each with its double quotes) are answered here; any other text is a request for the
// delegate's Process. A result travels back base64-encoded in parts that each fit the reply
// buffer: "part<base64>" while more follows, "last<base64>" for the final one; "err0" answers a
// message that does not fit the state, "err1" a failed Process or encoding.
class JSWEConnector {
public:
    enum MessageKind { kReset = 1, kData = 2, kNext = 3, kInformation = 6 };
    enum ReplyKind {
        kPart = 4,
        kLastPart = 5,
        kInfoReply = 6,
        kProtocolError = 257,
        kProcessingError = 258,
    };

    JSWEConnector() = default;
    JSWEConnector(const JSWEConnector&) = delete;
    JSWEConnector& operator=(const JSWEConnector&) = delete;
    virtual ~JSWEConnector();

    // Allocates the reply buffer of the delegate's size; 0 when it cannot.
    int Initialize(IJSWEConnectorDelegate* delegate);
    void Finalize();
    // The reply points into the reply buffer and stays valid until the next call. 0 only
    // when the connector is not initialised (the reply is then empty).
    int HandleMessage(const unsigned char* request, unsigned long length,
                      const unsigned char** reply, unsigned long* replyLength);
    // Drops a pending result.
    void Reset();

    static int GetMessageType(const unsigned char* request, unsigned long length);
    // Raw bytes per part for a reply buffer of the given size.
    static unsigned long MaxPartSize(unsigned long bufferSize);
    bool IsResultPending() const { return resultPending_ != 0; }

private:
    void MakeResultMessage(int kind, const char* data, unsigned long length,
                           const unsigned char** reply, unsigned long* replyLength);
    int GetResultDataPart(char** text, unsigned long* length, int* last);
    void ReplyWithNextPart(const unsigned char** reply, unsigned long* replyLength);
    void SetResultData(unsigned char* data, unsigned long length);
    void ClearResultData();

    int initialized_ = 0;
    int resultPending_ = 0;
    unsigned char* buffer_ = nullptr;
    unsigned long bufferSize_ = 0;
    unsigned char* resultData_ = nullptr;
    unsigned long resultLength_ = 0;
    unsigned long consumed_ = 0;
    IJSWEConnectorDelegate* delegate_ = nullptr;
};

#endif
