#pragma once

#include <PCSC/winscard.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ckbase/exception.h"
#include "ckbase/zr_pkcs11.h"
#include "device/reader_watch.h"
#include "device/token_info.h"
#include "device/zr_plinq_token.h"
#include "driver/cache_clock.h"
#include "driver/file_id_picker.h"
#include "driver/index_cache.h"
#include "driver/storage_types.h"
#include "driver/token_storage_host.h"
#include "support/mutex.h"
#include "support/safe_buffer.h"

namespace qel {

// A store file that an object needs is gone: an attribute file named by an index record (a
// deletion was interrupted: the record is broken and names no object), or the data file of an
// object that another process changed or removed since it was read.
class MissingStoreFile : public zrck::Exception {
public:
    explicit MissingStoreFile(long fileId)
        : zrck::Exception(CKR_OBJECT_HANDLE_INVALID, "missing store file " + std::to_string(fileId))
    {
    }
};

// The driver's only door to one token: serialises device access, keeps the token's single
// device session, retries after card resets, converts device results into zrck::Exception and
// keeps the PKCS#11 objects in index, attribute and data files on the token.
//
// Operation names: ...D sends one device command in a retry loop and takes no lock; ...M takes
// a BusyGuard (and opens the device session when the command needs one); ...Int is a step made
// of D operations, run inside a caller's guard.
//
// Lock order of the whole library: support/lock_order.h ("StorageMutex" is the storage rank).
// An object-changing call holds "StorageMutex" while it adds or drops objects in the registry,
// so nothing that may reach the storage runs under the registry lock: a search matches the
// objects of a snapshot of the registry (values read lazily take "StorageMutex"), the lookups
// run only use-count changes under it, and dropped objects are destroyed after it is released.
// The storage never calls back into the slot or the token while it holds "StorageMutex":
// the host notifications of a new connection (drop objects, close sessions) and of a slot
// event are queued and delivered when the outermost guard of this storage lets the mutex go.
// ResetDevice takes "StorageMutex" itself. The busy state is a nesting counter read atomically,
// so a presence check never waits for a running operation.
class TokenStorage {
public:
    // Process-wide record of a device session that could not be closed.
    struct LostSession {
        uint8_t serial[16];
        uint8_t session[kDeviceSessionSize];
    };

    class BusyGuard {
    public:
        BusyGuard(TokenStorage& storage, const char* operation);
        ~BusyGuard();
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

    private:
        TokenStorage& storage_;
    };

    class TokenTransaction {
    public:
        explicit TokenTransaction(TokenStorage& storage);
        ~TokenTransaction();
        TokenTransaction(const TokenTransaction&) = delete;
        TokenTransaction& operator=(const TokenTransaction&) = delete;

    private:
        TokenStorage& storage_;
    };

    // A check run once, in the caller's guard, before the first command that uses a key or reads
    // a data file while this lives (the token's check that an object still is the one its
    // handle names); the one set before comes back afterwards.
    class CommandCheck {
    public:
        CommandCheck(TokenStorage& storage, std::function<void()> check);
        ~CommandCheck();
        CommandCheck(const CommandCheck&) = delete;
        CommandCheck& operator=(const CommandCheck&) = delete;

    private:
        TokenStorage& storage_;
        std::function<void()> previous_;
    };

    // Storage mutex, busy state and one PC/SC transaction around an object- or PIN-changing
    // library call; empties the reserve of new IDs.
    class GlobalBusyGuard {
    public:
        GlobalBusyGuard(TokenStorage& storage, const char* operation);
        ~GlobalBusyGuard();
        GlobalBusyGuard(const GlobalBusyGuard&) = delete;
        GlobalBusyGuard& operator=(const GlobalBusyGuard&) = delete;

    private:
        BusyGuard busy_;
        TokenTransaction transaction_;
        TokenStorage& storage_;
    };

    // Reader mode: connects to the reader with this index of the PC/SC reader list.
    TokenStorage(TokenStorageHost& host, unsigned readerIndex);
    // Handle mode: adopts an application's card handle (never released by the storage).
    TokenStorage(TokenStorageHost& host, unsigned readerIndex, SCARDHANDLE cardHandle);
    ~TokenStorage();
    TokenStorage(const TokenStorage&) = delete;
    TokenStorage& operator=(const TokenStorage&) = delete;

    // Connection and recognition.
    void InitData();
    void ConnectToken();
    void ConnectTokenM();
    void SetSmartcardCtxM(SCARDHANDLE cardHandle);
    // kNoAtr: no ATR could be read (the card is leaving); kForeign: an ATR that is not ours.
    enum class Recognition { kGenuine, kForeign, kNoAtr };
    Recognition TryToRecognizeToken();
    bool GetCardATR(tru::BufferDynamic& atr);
    bool GetSlotAttr(uint32_t attributeId, tru::BufferDynamic& value);
    void ReadCardStatusD(tru::BufferDynamic& readerName, uint32_t& state, tru::BufferDynamic& atr);
    void CloseDeviceD();

    // Presence.
    bool IsTokenPresentM();
    // The PC/SC service reports the connected card gone (or pulled and put back); no card
    // command, no storage lock.
    bool IsCardGone() { return cardLeft_ || watch_.CardGone(); }
    // Whether a presence check may answer without the storage lock while another thread is
    // busy: not when that thread may be connecting to a card the reader shows.
    bool MayAnswerWhileBusy() { return !presenceInDoubt_ && (present_ || !watch_.ReaderHoldsCard()); }
    CK_RV VerifyTokenPresence();
    void ResetDevice();
    void ResetDeviceCache();

    // Device session.
    void OpenDevSessionInt();
    void ClearDevSessionInt();
    void ClearDevSessionM();
    // Closes the device session and forgets the SO PIN.
    void CloseDevSessionInt();
    bool IsSessionOpened() const { return sessionOpen_; }
    void MarkSessionOpened() { sessionOpen_ = true; }

    // Lost sessions (process-wide).
    static void SaveLostSession(const tru::Buffer& serial, const uint8_t* session);
    void CheckForLostSessions(const tru::Buffer& serial);
    static size_t LostSessionCount();

    // Login, PINs and SO commands. InitPIN, InitializeSO and ChangePIN run inside the caller's
    // GlobalBusyGuard.
    void LoginUserM(const tru::Buffer& pin);
    void LoginSoM(const tru::Buffer& pin);
    void VerifyUserPassword(const tru::Buffer& pin);
    void LogoutUserM();
    void ReadDeviceLoggedM();
    void InitPIN(const tru::Buffer& userPin);
    void InitializeSO(const tru::Buffer& soPin, const tru::Buffer& label);
    void ChangePIN(const tru::Buffer& oldPin, const tru::Buffer& newPin);
    void SetUserAuthMaxCountM(uint32_t count);
    uint32_t GetUserAuthMaxCountM();
    bool IsSoPinKept() const { return !soPin_.Empty(); }
    bool IsUserLoggedCached() const { return userLogged_; }

    // Random data.
    void GenerateUserRandomM(tru::Buffer& out);
    void SeedUserRandomM(const tru::Buffer& seed);
    // 64 bytes from the token's external random source, kept in a wiping buffer.
    void PrepareExtRandomness();
    const vdk::SafeBuffer& GetExtRandomness() const { return extRandomness_; }

    // Token information and capabilities.
    void ReadTokenInternalInfoM();
    std::string GetTokenLabelM();
    const tru::Buffer& GetSerialNumber() const { return serial_; }
    bool IsRSA512Supported();
    bool IsEcDsaSupportedM();
    bool IsDSTU_431Supported();
    bool IsDHSupportedM();

    // Token data revision (file 0). GetTokenDataRevision answers from a 5-second cache;
    // IsTokenDataChangedM always reads file 0, so a search sees another process's change at once;
    // it opens the device session the search goes on to use.
    void ReadTokenDataRevision();
    uint32_t GetTokenDataRevision();
    bool IsTokenDataChangedM();
    // Returns the revision file 0 held before the increment.
    uint32_t IncTokenDataRevision();
    // previous (may be null) receives the revision file 0 held before this call's increment.
    bool CheckAndUpdateRevision(uint32_t* previous = nullptr);

    // Files, device level.
    // The whole file in two commands (size, then bytes); a missing file reads as empty.
    uint32_t ReadFileD(long fileId, tru::BufferDynamic& contents);
    // As ReadFileD; false when the file is missing.
    bool ReadWholeFileD(long fileId, tru::BufferDynamic& contents);
    // Also keeps the image of an index file read in the running object-changing call.
    void WriteFileD(long fileId, uint32_t offset, const uint8_t* data, uint32_t length);
    void CreateFileD(long fileId, EPersistence persistence);
    // Creates a file; false when it already exists.
    bool CreateNewFileD(long fileId);
    void DeleteObjectD(long fileId);
    uint32_t GetFileSizeD(long fileId);
    bool IsFileExistsD(long fileId);
    uint32_t GetFileSizeM(long fileId);
    bool IsFileExistsM(long fileId);
    void WriteFileHeader(long fileId, tru::Buffer& header);
    // A zero-filled file of that size starting with an empty header.
    void AllocateFileHeader(long fileId, uint32_t size);
    // The index file that lists an object file: 126 for IDs 1..126, else 179.
    static long GetIndexFileIDFor(long fileId);

    // On-token cryptography.
    void GenerateSignatureM(long keySlot, const tru::Buffer& data, tru::BufferDynamic& signature);
    bool VerifySignatureM(const tru::Buffer& publicKey, EParamSet paramSet, const tru::Buffer& data,
                          const tru::Buffer& signature);
    void EncryptM(const tru::Buffer& publicKey, EParamSet paramSet, const tru::Buffer& data,
                  tru::BufferDynamic& result);
    void DecryptM(long keySlot, const tru::Buffer& data, tru::BufferDynamic& result);
    // The peer point may carry its DER OCTET STRING tag (04 L); the device gets the bare point.
    void DeriveCommonKeyM(long keySlot, const tru::Buffer& peerPoint, const tru::Buffer& first,
                          const tru::Buffer& second, bool cofactor, tru::BufferDynamic& key);

    // Transactions and response delay.
    void BeginTransactionD();
    void EndTransactionD();
    void SetupResponseDelay(uint16_t delay);

    // Throws zrck::Exception for any result but 0 and a non-zero tolerated result (then false).
    bool CheckDeviceError(uint32_t result, uint32_t tolerated = 0);
    void InitDefaults() {}
    CK_RV AddPreliminaryObjects() { return CKR_OK; }

    // On-token object store (token_storage_store.cpp).
    void WriteDataFileM(long fileId, const tru::Buffer& value);
    // A new value for the data file of the object filed with these files, written so that the
    // token holds the old value or the new one at every step: into a free file, then the
    // object's index record is switched to it, then the old file is deleted. Returns the file
    // now holding the value (the same one for an object not filed yet, written in place).
    // CKR_OBJECT_HANDLE_INVALID when no record names the files.
    long RewriteDataFileM(long dataFile, long attributeFile, const tru::Buffer& value);
    // The value in the data file of the object filed with that attribute file. A missing file is
    // judged by the object's index record, read in the same token transaction: one that still
    // names the file means no value (empty), one that names another file means the value moved
    // there (read from it; holder, when given, receives the file that held the value). Without
    // such a record, or without an attribute file, MissingStoreFile.
    std::shared_ptr<tru::Buffer> ReadDataFileM(long fileId, long attributeFile = 0, long* holder = nullptr);
    // A filed object's attribute file longer than one write command is replaced as
    // RewriteDataFileM replaces a data file; the object learns its new file from
    // TakeMovedAttributeFile. One that already holds these records is left alone.
    void WriteAttributeFile(long fileId, const storage::Attribute* records, unsigned count);
    // The file that replaced this attribute file in the running call, or the same ID.
    long TakeMovedAttributeFile(long attributeFile);
    // Throws MissingStoreFile when the file is missing and its ID is not reserved.
    unsigned ReadAttributeFile(long fileId, std::vector<storage::AttributeBuff>& list);
    // The attribute file's records as this process last read or wrote them; false when it never
    // did (or deleted the file since).
    bool KnownAttributeRecords(long fileId, std::vector<storage::AttributeBuff>& records) const;
    // Every attribute file's records as this process knows them.
    std::map<long, std::vector<storage::AttributeBuff>> KnownAttributeRecords() const { return attributeRecords_; }
    // A record found broken by a listing; freed, with its remaining file, when this storage
    // next reserves IDs or deletes an object (and only if its attribute file is still missing).
    void NoteBrokenRecord(const storage::IndexFileRecord& record);
    // Files the record in the index its object file belongs to (179 for IDs from 128 up).
    void AddToIndexFile(EVisibility visibility, uint16_t itemType, long objectFile, long attributeFile);
    void AddToIndexFileByID(long indexFile, uint16_t itemType, long objectFile, long attributeFile);
    // Frees the first record with these files and item type (ItemFree: any item type).
    bool DeleteFromIndexFile(long indexFile, const storage::IndexFileRecord& record);
    // Frees the index record that names these files with this item type (ItemFree: any), then
    // deletes the two files; a record that cannot be freed keeps its files. Files that no such
    // record names are deleted only when the running call reserved them; otherwise nothing is
    // deleted and the answer is false (another process removed or changed the object).
    bool DeleteStorageObject(const storage::IndexFileRecord& record, bool markChanged);
    // The same for an object of the running call, by attribute file << 16 | object file.
    void DeleteStorageObject(uint32_t storageId, bool markChanged);
    // The files of an object that no index record names (never filed).
    void DeleteObjectFiles(long objectFile, long attributeFile);
    unsigned ListObjectsM(EVisibility visibility, uint16_t itemFilter, std::vector<storage::IndexFileRecord>& list);
    unsigned GetObjectsListInt(long indexFile, uint16_t itemFilter, std::vector<storage::IndexFileRecord>& list);
    long GetFreeFileID(EVisibility visibility);
    void GetFreeFileAttrID(EVisibility visibility, long& objectFile, long& attributeFile);
    void ReserveNewObject(uint16_t itemType, EVisibility visibility, long& objectFile, long& attributeFile);
    void ReserveNewKey(uint16_t itemType, long& keySlot, long& attributeFile);
    void LoadKeyM(EParamSet paramSet, EPersistence persistence, const tru::Buffer& blob, long& keySlot,
                  long& attributeFile, uint16_t itemType = 0);
    // publicVisibility: where a kept public key is filed (PrivateObject for a public key marked
    // private).
    void GenerateKeyPairM(EParamSet paramSet, EPersistence privatePersistence, EPersistence publicPersistence,
                          tru::BufferDynamic& publicKey, long& keySlot, long& publicObjectFile,
                          long& privateAttributeFile, long& publicAttributeFile,
                          EVisibility publicVisibility = PublicObject);
    void GenerateKeyPairM(EParamSet paramSet, EPersistence persistence, tru::BufferDynamic& publicKey,
                          long& keySlot, long& attributeFile);

    IndexCache& GetIndexCache() { return indexCache_; }

    // State read by the token and the slot.
    bool IsPresent() const { return present_; }
    bool IsRecognized() const { return recognized_; }
    uint32_t GetModelFlag() const { return modelFlag_; }
    bool IsBusy() const { return busy_.load() != 0; }
    uint32_t GetStorageErrorMark() const { return errorMark_; }
    const _TokenInfo_Struct& GetTokenInfo() const { return tokenInfo_; }
    CacheClock::Stamp GetInfoTime() const { return infoTime_; }
    // Read the information block again at the next look.
    void DropInfoTime() { infoTime_ = {}; }

private:
    enum class OnInvalidSession { Check, NewSession, Success };
    enum Notification : unsigned { kNotifyConnected = 1, kNotifySlotEvent = 2 };

    void Construct();
    void Lock();
    void Unlock();
    void QueueNotification(unsigned notification);
    // Sends a device command, reconnecting and repeating after a card reset (bounded) and
    // applying the invalid-session rule; returns the last result.
    template <typename Command>
    uint32_t Run(Command&& command, OnInvalidSession rule);

    void InvalidateCaches();
    // After a failed transmission: whether the connected card has left the reader (or was
    // pulled and put back), asked of the card itself; a card that left is marked gone in the
    // reader watch.
    bool ConnectedCardLeft();
    void RunCommandCheck();
    void DropSoPin();
    void OpenDevSessionMicroIntD();
    void CloseSessionD(bool quiet);
    void MarkSessionClosed();
    void CloseLostSession(const uint8_t* session);
    void LoginUserD(const tru::Buffer& pin);
    void LogoutUserD();
    void CheckPinResult(uint32_t result);
    void RequireUserLoggedForRandom();
    void ReadTokenInfoD();
    uint32_t GetAttrD(uint8_t attributeId, uint8_t* out, size_t& length, bool quiet);
    uint32_t ReadAttributeWord(uint8_t attributeId);
    void GetTokenSerialNumInt(tru::Buffer& serial);
    bool ReadSerialQuiet(tru::Buffer& serial);
    uint32_t VersionWord();
    void SaveTokenDataRevision();
    // Writes the image into a free file and switches the index record that names fileId (as
    // data file with that attribute file, or as attribute file when attributeFile is 0) to it,
    // then deletes fileId. Returns the new file; 0, writing nothing, when no record names it.
    long ReplaceFiledFileInt(long fileId, long attributeFile, const tru::Buffer& image);
    // The object file of the record that names this attribute file; 0 when none does.
    long DataFileNamedInt(long attributeFile);
    // likelyMissing: the file is normally not there yet (a new or free ID).
    void WriteWholeFileInt(long fileId, const tru::Buffer& image, bool likelyMissing);
    // Keeps the records of an attribute file image as this process knows the file now.
    void KeepAttributeRecords(long fileId, const tru::Buffer& image);
    // Whether the attribute file, as this process last read or wrote it, holds this image. A
    // call checks the revision before its first change, so in its transaction that is the file.
    bool HoldsAttributeImage(long fileId, const tru::Buffer& image) const;
    uint32_t ReadIndex(long indexFile, const char* operation, tru::BufferDynamic& file,
                       std::vector<storage::IndexFileRecord>& records);

    // Best effort: a failure leaves the records for a later listing to find again.
    void FreeBrokenRecordsInt();
    void MarkUsedIds(long indexFile, const char* operation, bool (&used)[256]);
    // Sends the command into an output of firstSize bytes; a "buffer too small" answer is repeated
    // with the reported size up to maxResizes times.
    void CryptoWithResize(uint32_t firstSize, tru::BufferDynamic& out,
                          const std::function<uint32_t(uint8_t*, size_t*)>& command, unsigned maxResizes);

    TokenStorageHost& host_;
    SCARDHANDLE cardHandle_ = 0;
    bool handleMode_ = false;
    unsigned readerIndex_ = 0;
    uint32_t revision_ = 0;
    bool revisionFileMissing_ = false;  // as the last read of file 0 found it
    CacheClock::Stamp revisionTime_{};
    bool userLogged_ = false;
    CacheClock::Stamp loginStateTime_{};
    std::string label_;
    _TokenInfo_Struct tokenInfo_{};
    CacheClock::Stamp infoTime_{};
    CacheClock::Stamp presenceTime_{};
    unsigned transactionDepth_ = 0;
    // Index files as read or written during one object-changing call: its PC/SC transaction
    // keeps other processes out, so the index is read once per call. Dropped when the
    // outermost GlobalBusyGuard ends and after a card reset or any device failure.
    unsigned globalDepth_ = 0;
    std::map<long, std::vector<uint8_t>> indexImages_;
    std::vector<storage::IndexFileRecord> brokenRecords_;
    // Attribute files replaced in the running object-changing call: old ID -> new ID.
    std::map<long, long> movedAttributeFiles_;
    // Attribute file -> its records as last read or written by this process.
    std::map<long, std::vector<storage::AttributeBuff>> attributeRecords_;
    std::function<void()> commandCheck_;
    uint8_t session_[kDeviceSessionSize] = {};
    bool sessionOpen_ = false;
    std::unique_ptr<ZrPlinqToken> device_;
    // Read without the storage mutex by presence checks of other threads.
    std::atomic<bool> present_{false};
    std::atomic<bool> recognized_{false};
    uint32_t modelFlag_ = 0;
    ReaderWatch watch_;
    std::unique_ptr<vdk::MutexIntf> mutex_;
    std::atomic<unsigned> busy_{0};
    unsigned pendingNotifications_ = 0;
    // A command of this connection was answered "removed": because the card left, or with an
    // answer that may be cut off (the next presence check asks the token).
    std::atomic<bool> cardLeft_{false};
    std::atomic<bool> presenceInDoubt_{false};
    tru::BufferStatic<16> serial_;
    uint32_t versionWord_ = 0;
    vdk::SafeBuffer soPin_;
    vdk::SafeBuffer extRandomness_;
    uint32_t errorMark_ = 0;
    vdk::SafeBuffer randomPool_;  // 32 bytes; the first randomFill_ are unused device random
    uint32_t randomFill_ = 0;
    IndexCache indexCache_;
    FileIdPicker idPicker_;  // IDs of files and key slots this process deleted go last
};

}  // namespace qel
