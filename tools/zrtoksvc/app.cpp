// The command line: loader configuration, two parsing passes, value resolution, library start,
// PIN prompts, dispatch and the mapping of failures to exit statuses.
#include "app.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "converters.h"
#include "lib_parameters.h"
#include "pin_terminal.h"
#include "session.h"
#include "support/file.h"
#include "support/string_utils.h"
#include "support/vdk_exception.h"
#include "usage.h"
#include "words.h"

namespace zrsvc {

namespace {

enum Command {
    CMD_INFO = 1, CMD_INITIALIZE = 2, CMD_INITPIN = 3, CMD_NEWPASSWD = 4, CMD_PASSWD = 5, CMD_LIST = 6,
    CMD_LOAD = 10, CMD_UNLOAD = 11, CMD_SET = 12, CMD_GENERATE = 15, CMD_RANDOM = 20, CMD_NEXT = 21,
    CMD_DELETE = 22, CMD_HASH = 23, CMD_ENCRYPT = 24, CMD_DECRYPT = 25, CMD_SIGN = 26, CMD_VERIFY = 27,
    CMD_WRAP = 28, CMD_UNWRAP = 29, CMD_MAC = 30, CMD_GET_MAX_PIN = 31, CMD_SET_MAX_PIN = 32
};

const struct {
    const char* word;
    Command code;
} kCommands[] = {
    {"initialize", CMD_INITIALIZE}, {"initpin", CMD_INITPIN}, {"info", CMD_INFO}, {"list", CMD_LIST},
    {"load", CMD_LOAD}, {"unload", CMD_UNLOAD}, {"set", CMD_SET}, {"passwd", CMD_PASSWD},
    {"newpasswd", CMD_NEWPASSWD}, {"random", CMD_RANDOM}, {"hash", CMD_HASH}, {"encrypt", CMD_ENCRYPT},
    {"decrypt", CMD_DECRYPT}, {"wrap", CMD_WRAP}, {"unwrap", CMD_UNWRAP}, {"sign", CMD_SIGN},
    {"verify", CMD_VERIFY}, {"mac", CMD_MAC}, {"next", CMD_NEXT}, {"delete", CMD_DELETE},
    {"generate", CMD_GENERATE}, {"get_max_pin_try_count", CMD_GET_MAX_PIN},
    {"set_max_pin_try_count", CMD_SET_MAX_PIN},
};

int FindCommand(const char* word) {
    for (const auto& c : kCommands)
        if (std::strcmp(word, c.word) == 0)
            return c.code;
    return 0;
}

std::string Banner() {
    return "zrtoksvc version 3.8.1.9557 for " + globalLibParameters->GetDescription() + ".";
}

int UsageError(const char* format, const std::string& value) {
    std::fprintf(stderr, "%s\n", Banner().c_str());
    std::fprintf(stderr, format, value.c_str());
    std::fprintf(stderr, "Use parameter help (-h) to see help on usage.\n");
    return ST_ERROR;
}

// The raw command line, before value resolution.
struct Parsed {
    std::string typeText, keyTypeText, hashTypeText, modeText, testPresence;
    std::string label, wrap_label, application, lib_init_config, file, out_file, attr;
    SecretText so_password, password, new_password, key_password;
    tru::BufferDynamic signature, params, subject, id, seed, synchro, wrap_id;
    vdk::SafeBuffer key_value;
    CK_SLOT_ID slot = kSlotUnset;
    int count = 1;
    bool countGiven = false;
    uint64_t size = 0;
    uint64_t bits = 1024;
    bool bitsGiven = false;
    bool flags[8] = {};  // t l s p h q y f
};

uint64_t Multiply(uint64_t value, uint64_t factor, const std::string& text) {
    if (factor != 1 && value > UINT64_MAX / factor)
        throw vdk::Exception("Unable to parse size_t from \"" + text + "\"");
    return value * factor;
}

uint64_t ParseScaled(std::string value, bool allowMega) {
    const std::string original = value;
    uint64_t factor = 1;
    if (!value.empty()) {
        const char last = value.back();
        if (last == 'k' || last == 'K')
            factor = 1024;
        else if (allowMega && (last == 'm' || last == 'M'))
            factor = 1048576;
        if (factor != 1)
            value.pop_back();
    }
    return Multiply(vdk::Converters::StringToSize(value), factor, original);
}

bool TakeSecret(const char* arg, const char* name, SecretText& out, int argc, char** argv, int& i) {
    std::string value;
    WipeOnExit wipe(value);
    if (!testForParam(arg, name, value, argc, argv, i))
        return false;
    out = value;
    return true;
}

// Step 6: one argument of the second pass; 0 when taken, else the usage error's status.
int ParseArgument(Parsed& r, int argc, char** argv, int& i) {
    const char* arg = argv[i];
    const size_t length = std::strlen(arg);
    if (arg[0] == '-' && length == 2) {
        static const char kLetters[] = "tlsphqyf";
        const char* at = std::strchr(kLetters, arg[1]);
        if (at == nullptr || arg[1] == 0)
            return UsageError("Error: Unknown option \"%s\"\n", std::string(1, arg[1]));
        r.flags[at - kLetters] = true;
        return ST_OK;
    }
    bool bare = false;
    if (ConvertObjectTypeFromStr(arg, false) != OT_NONE) { r.typeText = arg; bare = true; }
    if (ConvertKeyTypeFromStr(arg, false) != KT_NONE) { r.keyTypeText = arg; bare = true; }
    if (ConvertHashTypeFromStr(arg, false) != HT_NONE) { r.hashTypeText = arg; bare = true; }
    if (ConvertEncrModeFromStr(arg, false) != EM_NONE) { r.modeText = arg; bare = true; }
    if (bare)
        return ST_OK;
    std::string text(arg);
    WipeOnExit wipe(text);  // the argument may be a PIN or a key value
    auto rest = [&](const char* prefix) { return text.substr(std::strlen(prefix)); };
    if (text.rfind("-slot=", 0) == 0) {
        r.slot = static_cast<CK_SLOT_ID>(static_cast<int64_t>(vdk::Converters::StringToInt(rest("-slot="))));
        return ST_OK;
    }
    if (text.rfind("-count=", 0) == 0) {
        r.count = vdk::Converters::StringToCount(rest("-count="));
        r.countGiven = true;
        return ST_OK;
    }
    if (text.rfind("-size=", 0) == 0) {
        r.size = ParseScaled(rest("-size="), true);
        return ST_OK;
    }
    if (text.rfind("-bits=", 0) == 0) {
        r.bits = ParseScaled(rest("-bits="), false);
        r.bitsGiven = true;
        return ST_OK;
    }
    std::string booleanText;
    if (TakeSecret(arg, "so_password", r.so_password, argc, argv, i) ||
        TakeSecret(arg, "password", r.password, argc, argv, i) ||
        TakeSecret(arg, "new_password", r.new_password, argc, argv, i))
        return ST_OK;
    if (testForParam(arg, "test_presence", r.testPresence, argc, argv, i) ||
        testForParam(arg, "type", r.typeText, argc, argv, i) ||
        testForParam(arg, "key_type", r.keyTypeText, argc, argv, i) ||
        testForParam(arg, "hash_type", r.hashTypeText, argc, argv, i) ||
        testForParam(arg, "mode", r.modeText, argc, argv, i) || testForParam(arg, "attr", r.attr, argc, argv, i) ||
        testForParam(arg, "label", r.label, argc, argv, i) ||
        testForParam(arg, "wrap_label", r.wrap_label, argc, argv, i) ||
        testForParam(arg, "application", r.application, argc, argv, i) ||
        testForParam(arg, "lib_init_config", r.lib_init_config, argc, argv, i))
        return ST_OK;
    if (TakeSecret(arg, "key_password", r.key_password, argc, argv, i))
        return ST_OK;
    if (testForParam(arg, "file", r.file, argc, argv, i) || testForParam(arg, "out_file", r.out_file, argc, argv, i) ||
        testForParam(arg, "signature", r.signature, argc, argv, i) ||
        testForParam(arg, "params", r.params, argc, argv, i) ||
        testForParam(arg, "subject", r.subject, argc, argv, i) || testForParam(arg, "id", r.id, argc, argv, i) ||
        testForParam(arg, "seed", r.seed, argc, argv, i) ||
        testForParam(arg, "key_value", r.key_value, argc, argv, i) ||
        testForParam(arg, "synchro", r.synchro, argc, argv, i) ||
        testForParam(arg, "wrap_id", r.wrap_id, argc, argv, i))
        return ST_OK;
    // Named without its value, which may be a misspelled secret.
    return UsageError("Error: Unknown parameter \"%s\"\n", text.substr(0, text.find('=')));
}

void ResolveValues(Parsed& r) {
    LoadFileIfNeeded("label", r.label);
    LoadFileIfNeeded("wrap_label", r.wrap_label);
    LoadFileIfNeeded("attr", r.attr);
    LoadFileIfNeeded("application", r.application);
    LoadFileIfNeeded("so_password", r.so_password);
    LoadFileIfNeeded("password", r.password);
    LoadFileIfNeeded("new_password", r.new_password);
    LoadFileIfNeeded("key_password", r.key_password);
    LoadFileIfNeeded("signature", r.signature);
    LoadFileIfNeeded("params", r.params);
    LoadFileIfNeeded("subject", r.subject);
    LoadFileIfNeeded("id", r.id);
    LoadFileIfNeeded("wrap_id", r.wrap_id);
    LoadFileIfNeeded("synchro", r.synchro);
    LoadFileIfNeeded("key_value", r.key_value);
    LoadFileIfNeeded("seed", r.seed);
}

SecretText Prompt(const char* kind) { return PromptPassword("Enter %s password:", kind); }

int Dispatch(int command, SvcParams& p) {
    switch (command) {
    case CMD_INFO: return DoInfo(p);
    case CMD_INITIALIZE: return DoInitToken(p);
    case CMD_INITPIN: return DoInitUserPin(p);
    case CMD_NEWPASSWD: return DoChangePassword(p);
    case CMD_PASSWD: return DoCheckPassword(p);
    case CMD_LIST: return DoList(p);
    case CMD_LOAD: return DoLoad(p);
    case CMD_UNLOAD: return DoUnload(p);
    case CMD_SET: return DoSetAttr(p);
    case CMD_GENERATE: return DoGenerate(p);
    case CMD_RANDOM: return DoGenerateRandom(p);
    case CMD_NEXT: return DoMonotonicNext(p);
    case CMD_DELETE: return DoDelete(p, true, nullptr);
    case CMD_HASH: return DoHash(p);
    case CMD_ENCRYPT: return DoEncrypt(p);
    case CMD_DECRYPT: return DoDecrypt(p);
    case CMD_SIGN: return DoSign(p);
    case CMD_VERIFY: return DoVerify(p);
    case CMD_GET_MAX_PIN: return DoGetMaxPinTryCount(p);
    case CMD_SET_MAX_PIN: return DoSetMaxPinTryCount(p);
    default:
        std::printf("Unknown command (INTERNAL ERROR)\n");
        return ST_ERROR;
    }
}

// Steps 10 to 14. The finalizer and the record are locals, so an exception leaving here has
// already logged out, closed the session and finalised the library.
int RunCommand(int command, Parsed& r) {
    CK_SLOT_ID slot = r.slot;
    CK_FUNCTION_LIST_PTR functions = globalLibParameters->OpenAndInitLib(r.lib_init_config, slot, true, false);
    LibFinalizer finalizer(functions);
    SvcParams p;
    p.functions = functions;
    p.finalizer = &finalizer;
    p.id = r.id;
    p.synchro = r.synchro;
    p.key_value = r.key_value;
    p.subject = r.subject;
    p.signature = r.signature;
    p.wrap_id = r.wrap_id;
    p.params = r.params;
    p.seed = r.seed;
    p.slot = slot;
    p.password = r.password;
    p.so_password = r.so_password;
    p.new_password = r.new_password;
    p.key_password = r.key_password;
    p.size = r.size;
    p.file = r.file;
    p.out_file = r.out_file;
    p.label = r.label;
    p.wrap_label = r.wrap_label;
    p.application = r.application;
    p.attr = r.attr;
    p.typeText = r.typeText;
    p.count = r.count;
    p.countGiven = r.countGiven;
    p.bits = r.bits;
    p.bitsGiven = r.bitsGiven;
    p.repeat = r.flags[0];
    p.longForm = r.flags[1];
    p.statistics = r.flags[2];
    p.privateZone = r.flags[3];
    p.hex = r.flags[4];
    p.quiet = r.flags[5];
    p.yes = r.flags[6];
    p.force = r.flags[7];
    p.testPresence = convertBooleanArg(r.testPresence, true);
    p.lib_init_config = r.lib_init_config;
    p.objectType = ConvertObjectTypeFromStr(r.typeText, true);
    p.keyType = ConvertKeyTypeFromStr(r.keyTypeText, true);
    p.hashType = ConvertHashTypeFromStr(r.hashTypeText, true);
    p.mode = ConvertEncrModeFromStr(r.modeText, true);

    const bool noUserPin = p.password.empty() && p.so_password.empty();
    switch (command) {
    case CMD_INITIALIZE:
    case CMD_INITPIN:
    case CMD_SET_MAX_PIN:
        if (p.so_password.empty())
            p.so_password = Prompt("Security Officer");
        break;
    case CMD_PASSWD:
        if (noUserPin)
            p.password = Prompt("user");
        break;
    case CMD_NEWPASSWD:
        if (noUserPin)
            p.password = Prompt("current user's");
        if (p.new_password.empty())
            p.new_password = GetConfirmedPassword("new user's");
        break;
    case CMD_GET_MAX_PIN:
        if (noUserPin)
            p.password = Prompt("User");
        break;
    default:
        break;
    }

    // Each handler says itself what was wrong.
    const int status = Dispatch(command, p);
    std::fflush(stdout);
    return status;
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "%s\n", Banner().c_str());
        std::fprintf(stderr, "Not enough parameters.\n");
        std::fprintf(stderr, "Use parameter help (-h) to see help on usage.\n");
        return ST_ERROR;
    }
    SetCtrlBreakHandler();
    int command = 0;
    int commandIndex = 0;
    const char* firstOther = nullptr;
    for (int i = 1; i < argc && command == 0; ++i) {
        const std::string arg = argv[i];
        if (arg == "-help" || arg == "-h" || arg == "--help") {
            std::printf("%s\n", Banner().c_str());
            PrintUsage();
            return ST_OK;
        }
        if (arg == "-version" || arg == "-v" || arg == "--version") {
            std::printf("%s\n", Banner().c_str());
            return ST_OK;
        }
        command = FindCommand(argv[i]);
        if (command != 0)
            commandIndex = i;
        else if (firstOther == nullptr)
            firstOther = argv[i];
    }
    if (command == 0)
        return UsageError("Error: Unknown command \"%s\"\n", firstOther ? firstOther : "");
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    Parsed parsed;
    for (int i = 1; i < argc; ++i) {
        if (i == commandIndex)
            continue;
        const int status = ParseArgument(parsed, argc, argv, i);
        if (status != ST_OK)
            return status;
    }
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    if (!parsed.flags[5])
        std::printf("%s\n", Banner().c_str());
    ResolveValues(parsed);
    return RunCommand(command, parsed);
}

}  // namespace

int RunZrTokSvc(int argc, char** argv) {
    const PinTerminalRun terminal;  // the terminal's modes back at the end, however the run ends
    // Whole lines, so results and error reports keep their order in one log.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string configPath = GetLoadLibConfigFilename();
    try {
        if (vdk::File::IsFileExist(configPath.c_str()))
            globalLibParameters = std::make_unique<zrck::LibParameters>(configPath);
        else
            globalLibParameters =
                std::make_unique<zrck::LibParameters>(zrck::kBuiltInLibName, zrck::kBuiltInLibDescription);
    } catch (const vdk::Exception& e) {
        std::printf("Cannot read config file \"load-zrcryptoki.cfg\" - %s\n", e.what());
        std::fflush(stdout);
        return ST_BAD_CONFIG;
    }
    int status;
    try {
        status = Run(argc, argv);
    } catch (const ExitStatus& e) {
        status = e.status;
    } catch (const IntError& e) {
        std::printf("Error number 0x%x occured.\n", e.value);
        status = ST_ERROR;
    } catch (const CkError& e) {
        std::printf("Error number 0x%lx occured.\n", e.rv);
        status = ST_ERROR;
    } catch (const tru::Exception& e) {
        std::printf("Exception: 0x%lx %s.\n", e.GetCode(), e.what());
        status = ST_ERROR;
    } catch (const std::exception& e) {
        std::printf("Exception: %s.\n", e.what());
        status = ST_ERROR;
    } catch (...) {
        std::printf("Exception occured.\n");
        status = ST_ERROR;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

}  // namespace zrsvc
