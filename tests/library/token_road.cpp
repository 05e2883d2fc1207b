#include "token_road.h"

#include <cstdlib>
#include <stdexcept>

namespace road {

namespace {

void Check(CK_RV rv, const char* call)
{
    if (rv != CKR_OK) {
        char text[96];
        std::snprintf(text, sizeof text, "%s failed: 0x%08lX", call, static_cast<unsigned long>(rv));
        throw std::runtime_error(text);
    }
}

Commands Take(const tokensim::rig::ControlClient& control)
{
    Commands commands;
    for (const auto& [name, count] : control.Counters()) {
        if (name == "total") {
            commands.total = count;
        } else if (count != 0) {
            commands.byName[name] = count;
        }
    }
    control.ResetCounters();
    return commands;
}

CK_SLOT_ID FirstSlotWithToken(CK_FUNCTION_LIST_PTR p11)
{
    CK_ULONG count = 0;
    Check(p11->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> slots(count);
    Check(p11->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    if (count == 0) throw std::runtime_error("no token present");
    return slots[0];
}

CK_SESSION_HANDLE OpenSession(CK_FUNCTION_LIST_PTR p11, CK_SLOT_ID slot)
{
    CK_SESSION_HANDLE session = 0;
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
          "C_OpenSession");
    return session;
}

void Login(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, const std::string& pin)
{
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                       pin.size()),
          "C_Login");
}

void Initialize(CK_FUNCTION_LIST_PTR p11)
{
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    Check(p11->C_Initialize(&args), "C_Initialize");
}

}  // namespace

uint64_t Commands::Of(const std::string& name) const
{
    const auto found = byName.find(name);
    return found == byName.end() ? 0 : found->second;
}

std::string Commands::Detail() const
{
    std::string text;
    for (const auto& [name, count] : byName) text += (text.empty() ? "" : " ") + name + "=" + std::to_string(count);
    return text;
}

CK_OBJECT_HANDLE CreateDataObject(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, const std::string& label,
                                  const std::string& value)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    static const char application[] = "token-road";
    CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                           {CKA_TOKEN, &yes, sizeof yes},
                           {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                           {CKA_APPLICATION, const_cast<char*>(application), sizeof application - 1},
                           {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    Check(p11->C_CreateObject(session, data, 5, &object), "C_CreateObject");
    return object;
}

std::vector<CK_OBJECT_HANDLE> FindDataObjects(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &yes, sizeof yes}};
    Check(p11->C_FindObjectsInit(session, search, 2), "C_FindObjectsInit");
    std::vector<CK_OBJECT_HANDLE> found(256);
    CK_ULONG count = 0;
    Check(p11->C_FindObjects(session, found.data(), found.size(), &count), "C_FindObjects");
    Check(p11->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    found.resize(count);
    return found;
}

Figures Measure(CK_FUNCTION_LIST_PTR p11, const tokensim::rig::ControlClient& control, unsigned n,
                const std::string& userPin, const std::string& writer)
{
    Figures figures;
    control.ResetCounters();
    Initialize(p11);
    CK_SLOT_ID slot = FirstSlotWithToken(p11);
    figures.initAndSlotList = Take(control);

    CK_SESSION_HANDLE session = OpenSession(p11, slot);
    Take(control);
    Login(p11, session, userPin);
    FindDataObjects(p11, session);
    figures.loginAndFirstSearch = Take(control);
    FindDataObjects(p11, session);
    figures.searchNoRevision = Take(control);

    for (unsigned i = 0; i < n; ++i) {
        CreateDataObject(p11, session, "road-" + std::to_string(i), "value of object " + std::to_string(i));
        figures.create = Take(control);
    }
    FindDataObjects(p11, session);
    Take(control);
    FindDataObjects(p11, session);
    figures.searchUnchanged = Take(control);
    Check(p11->C_Finalize(nullptr), "C_Finalize");

    // As a new process: the library starts again from nothing.
    Initialize(p11);
    slot = FirstSlotWithToken(p11);
    session = OpenSession(p11, slot);
    Login(p11, session, userPin);
    Take(control);
    const std::vector<CK_OBJECT_HANDLE> objects = FindDataObjects(p11, session);
    figures.firstSearch = Take(control);
    if (objects.size() != n) throw std::runtime_error("the first search found " + std::to_string(objects.size()));

    std::vector<CK_BYTE> value(256);
    CK_ATTRIBUTE read = {CKA_VALUE, value.data(), value.size()};
    Check(p11->C_GetAttributeValue(session, objects[0], &read, 1), "C_GetAttributeValue");
    figures.fileRead = Take(control);

    if (std::system(writer.c_str()) != 0) throw std::runtime_error("the other process failed: " + writer);
    Take(control);
    figures.found = FindDataObjects(p11, session).size();
    figures.searchAfterOther = Take(control);
    Check(p11->C_Finalize(nullptr), "C_Finalize");
    return figures;
}

}  // namespace road
