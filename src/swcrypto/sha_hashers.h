// Host SHA calculators over mbed TLS's message-digest layer. One interface serves every SHA
// computation of the library: digest mechanisms, password-based key derivation and the
// hash-then-sign mechanisms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <mbedtls/md.h>

#include "support/noncopyable.h"
#include "tru2/buffer.h"

namespace mbt {

class AHasher {
public:
    virtual ~AHasher() = default;
    // Digest length in bytes; 0 for a name the class does not accept.
    virtual uint32_t GetResultSize() const = 0;
    // Begins a new digest; what was fed before is discarded. CKR_MECHANISM_INVALID for an
    // unknown name.
    virtual void Start() = 0;
    virtual void Update(const tru::Buffer& data) = 0;
    // The buffer must be exactly GetResultSize() bytes, else CKR_GENERAL_ERROR.
    virtual void Finish(tru::Buffer& out) = 0;
    // Writes GetResultSize() bytes.
    virtual void Finish(unsigned char* out) = 0;
    // View of the running digest state (mbed TLS's SHA context structure as it lies in
    // memory): reading it saves the state, writing into it restores one. Only while started.
    virtual tru::Buffer GetContext() = 0;
    // Replaces the running state with a saved one: exactly the size of GetContext() and of this
    // digest (a SHA-256 state is no SHA-224 state), else CKR_SAVED_STATE_INVALID.
    virtual void RestoreContext(const tru::Buffer& state) = 0;
    // Frees the context; the looked-up digest descriptor is kept.
    virtual void Reset() = 0;
};

// The mbed TLS md context shared by the concrete calculators. Every mbed TLS failure is a
// zrck::Exception: CKR_MECHANISM_INVALID at set-up, CKR_FUNCTION_FAILED afterwards.
class MdHasher : public AHasher, private vdk::Noncopyable {
public:
    ~MdHasher() override;

    uint32_t GetResultSize() const override;
    void Start() override;
    void Update(const tru::Buffer& data) override;
    void Finish(tru::Buffer& out) override;
    void Finish(unsigned char* out) override;
    tru::Buffer GetContext() override;
    void RestoreContext(const tru::Buffer& state) override;
    void Reset() override;

protected:
    // name: the digest name as mbed TLS knows it; accepted: the names this class serves.
    MdHasher(std::string name, const char* accepted1, const char* accepted2, bool hmac);
    // Sets the context up (once per started period).
    void SetUp();
    void RequireStarted() const;
    mbedtls_md_context_t& Context() { return context_; }

private:
    bool IsAccepted() const;

    std::string name_;
    const char* accepted1_;
    const char* accepted2_;
    bool hmac_;
    mbedtls_md_context_t context_;
    const mbedtls_md_info_t* info_ = nullptr;
    bool started_ = false;
};

class TokSha1Hasher : public MdHasher {
public:
    static const uint32_t SHA1_DIGEST_BYTES_LENGTH = 20;
    TokSha1Hasher() : MdHasher("SHA1", "SHA1", "SHA1", false) {}
};

// "SHA256" or "SHA224".
class TokSha256Hasher : public MdHasher {
public:
    static const uint32_t SHA224_DIGEST_BYTES_LENGTH = 28;
    static const uint32_t SHA256_DIGEST_BYTES_LENGTH = 32;
    explicit TokSha256Hasher(const char* name) : MdHasher(name, "SHA256", "SHA224", false) {}
};

// "SHA512" or "SHA384".
class TokSha512Hasher : public MdHasher {
public:
    static const uint32_t SHA384_DIGEST_BYTES_LENGTH = 48;
    static const uint32_t SHA512_DIGEST_BYTES_LENGTH = 64;
    explicit TokSha512Hasher(const char* name) : MdHasher(name, "SHA512", "SHA384", false) {}
};

// HMAC-SHA-1; started only with a key (Start without one is CKR_GENERAL_ERROR).
class TokSha1HMacCalc : public MdHasher {
public:
    static const uint32_t SHA1_HMAC_BYTES_LENGTH = 20;
    TokSha1HMacCalc() : MdHasher("SHA1", "SHA1", "SHA1", true) {}

    void Start() override;
    virtual void Start(const tru::Buffer& key);
    void Update(const tru::Buffer& data) override;
    void Finish(tru::Buffer& out) override;
    void Finish(unsigned char* out) override;
};

// One SHA size of the mechanisms that hash before they sign: its digest length and a new
// calculator for it.
struct ShaHasherKind {
    uint32_t digestLength;
    AHasher* (*make)();
};

extern const ShaHasherKind kSha1HasherKind;
extern const ShaHasherKind kSha224HasherKind;
extern const ShaHasherKind kSha256HasherKind;
extern const ShaHasherKind kSha384HasherKind;
extern const ShaHasherKind kSha512HasherKind;

// The calculator of a hash-then-sign operation: made on the first Begin and kept for later
// operations, each Begin starting a new digest.
class OperationHasher {
public:
    explicit OperationHasher(const ShaHasherKind& kind) : kind_(kind) {}

    void Begin();
    // CKR_GENERAL_ERROR before the first Begin.
    void Update(const tru::Buffer& data);
    // Adds the last part (when given) and finishes the digest into digest.
    void Finish(const tru::Buffer* last, tru::BufferDynamic& digest);
    // Drops a running digest; the calculator is kept.
    void Reset();
    uint32_t DigestLength() const { return kind_.digestLength; }

private:
    AHasher& Started() const;

    const ShaHasherKind& kind_;
    std::unique_ptr<AHasher> hasher_;
};

}  // namespace mbt
