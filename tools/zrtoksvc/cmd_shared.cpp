// Steps shared by the key, object and cryptographic commands.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "commands.h"
#include "session.h"
#include "words.h"

namespace zrsvc {

int UnknownType(const SvcParams& p) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: Unknown type \"%s\"\n", p.typeText.c_str());
    return ST_ERROR;
}

int UnknownKeyType() {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: Unknown key type\n");
    return ST_ERROR;
}

void Refuse(const char* message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s", message);
    throw ExitStatus{ST_ERROR};
}

void FailCk(const char* function, CK_RV rv) {
    ReportCk(function, rv);
    throw ExitStatus{ST_CK_FAILED};
}

void Search::Add(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length) {
    values_.emplace_back(static_cast<const char*>(value), length);
    attributes_.push_back({type, &values_.back()[0], length});
}

void Search::AddULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) { Add(type, &value, sizeof value); }

void Search::AddBool(CK_ATTRIBUTE_TYPE type, bool value) {
    const CK_BBOOL byte = value ? CK_TRUE : CK_FALSE;
    Add(type, &byte, 1);
}

void Search::AddIdLabelSubject(const SvcParams& p, bool data) {
    if (!p.id.Empty())
        Add(data ? CKA_OBJECT_ID : CKA_ID, p.id.Data(), p.id.Size());
    if (!p.label.empty())
        Add(CKA_LABEL, p.label.data(), p.label.size());
    if (!p.subject.Empty())
        Add(CKA_SUBJECT, p.subject.Data(), p.subject.Size());
}

namespace {
const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;
}  // namespace

void ObjectTemplate::Add(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length) {
    entries_.at(count_++) = {type, const_cast<void*>(value), length};
}

void ObjectTemplate::AddULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    numbers_.push_back(value);
    Add(type, &numbers_.back(), sizeof(CK_ULONG));
}

void ObjectTemplate::AddBool(CK_ATTRIBUTE_TYPE type, bool value) { Add(type, value ? &kTrue : &kFalse, 1); }

void ObjectTemplate::AddExtra(const std::string& attr) {
    count_ += AddAttr(attr, entries_.data() + count_, entries_.size() - count_);
}

std::vector<CK_OBJECT_HANDLE> FindAll(SvcParams& p, Search& search, CK_ULONG room) {
    CK_FUNCTION_LIST_PTR f = p.functions;
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    CK_RV rv = f->C_FindObjectsInit(session, search.Data(), search.Count());
    if (rv != CKR_OK)
        FailCk("C_FindObjectsInit", rv);
    FindGuard guard(f, session);
    std::vector<CK_OBJECT_HANDLE> all;
    for (;;) {
        std::vector<CK_OBJECT_HANDLE> handles(room, 0);
        CK_ULONG found = 0;
        rv = f->C_FindObjects(session, handles.data(), room, &found);
        if (rv != CKR_OK)
            FailCk("C_FindObjects", rv);
        if (found == 0 || found > room)
            break;
        all.insert(all.end(), handles.begin(), handles.begin() + found);
    }
    rv = guard.Final();
    if (rv != CKR_OK)
        FailCk("C_FindObjectsFinal", rv);
    return all;
}

CK_OBJECT_HANDLE FindOneKey(SvcParams& p, CK_OBJECT_CLASS keyClass) {
    Search search;
    search.AddULong(CKA_CLASS, keyClass);
    search.AddIdLabelSubject(p);
    const std::vector<CK_OBJECT_HANDLE> keys = FindAll(p, search, 10);
    if (keys.size() != 1) {
        std::fflush(stdout);
        std::fprintf(stderr, keys.empty() ? "Key not found\n" : "Too many keys found\n");
        throw SilentFailure{};
    }
    return keys[0];
}

CK_ULONG ReadULong(SvcParams& p, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ULONG value = 0;
    CK_ATTRIBUTE read{type, &value, sizeof value};
    const CK_RV rv = p.functions->C_GetAttributeValue(p.finalizer->Session(), object, &read, 1);
    if (rv != CKR_OK)
        FailCk("C_GetAttributeValue", rv);
    return value;
}

void LoadFile(const std::string& path, tru::BufferDynamic& into, const char* text) {
    const tru::TResult code = into.Load(path.c_str());
    if (code != tru::SUCCESS)
        throw tru::Exception(code, (std::string(text) + path).c_str());
}

namespace {

[[noreturn]] void ThrowWrite(const std::string& path) {
    throw tru::Exception(tru::ERROR_WRITE, ("Cannot write file \"" + path + "\"").c_str());
}

}  // namespace

void SaveSecretFile(const std::string& path, const tru::Buffer& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        ThrowWrite(path);
    // O_TRUNC keeps the mode of a file that existed.
    bool ok = fchmod(fd, 0600) == 0;
    for (uint32_t done = 0; ok && done < bytes.Size();) {
        const ssize_t n = write(fd, bytes.Data() + done, bytes.Size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<uint32_t>(n);
    }
    if (close(fd) != 0 || !ok)
        ThrowWrite(path);
}

void SaveFile(const std::string& path, const tru::Buffer& bytes) {
    if (bytes.Save(path.c_str()) != tru::SUCCESS)
        ThrowWrite(path);
}

}  // namespace zrsvc
