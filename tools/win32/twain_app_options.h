// Command line of the test application.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "twain/twain.h"
#include "twain_app_log.h"

namespace twain_app {

// The phases at which a capability or layout request is sent: 4 right after
// the open, 5 right after a successful enable, 6 at the first transfer-ready
// event of an enable, before the first DAT_IMAGEINFO.
struct SourceRequest {
    enum Kind { kCapability, kLayout } kind = kCapability;
    int phase = 4;
    TW_UINT16 message = MSG_GET;
    TW_UINT16 cap = 0;
    std::string capName;
    bool hasType = false;
    TW_UINT16 itemType = 0;
    bool hasValue = false;
    std::string value;              // as written: "300", "enum:0,2@1", "array:1,2", "range:..."
    double frame[4] = {0, 0, 0, 0}; // layout: left, top, right, bottom in inches
};

// One entry of --xfer-cycle: the mechanism (and memory buffers) of an iteration.
struct CycleEntry {
    TW_UINT16 mechanism = TWSX_NATIVE;
    TW_UINT32 memoryFlags = TWMF_APPOWNS | TWMF_POINTER;
    std::string memoryMode = "app-pointer";
};

struct UiAction {
    std::string text; // as given, for the log
    std::string verb;
    int control = 0;
    std::string argument;
};

struct Options {
    std::string dsmPath = "TWAIN_32.DLL";
    std::string product = "Velmora Oskaro Tq3480 PCL";
    std::string logPath;
    bool timestamps = false;

    TW_UINT16 mechanism = TWSX_NATIVE;
    bool setMechanism = true;
    TW_UINT32 memoryFlags = TWMF_APPOWNS | TWMF_POINTER;
    std::string memoryMode = "app-pointer";
    std::string memorySizeMode = "preferred"; // preferred, min, max, or explicit sizes
    std::vector<long> memorySizes;            // per strip; the last one repeats
    int stallStrips = 3;

    std::string outPattern = "page{n}.bmp";
    bool save = true;
    std::string fileNamePattern; // empty: DAT_SETUPFILEXFER / MSG_GET gives the name
    bool fileSetup = true;
    TW_UINT16 fileFormat = TWFF_BMP;

    bool showUi = false;
    bool modalUi = false;
    bool stay = false;
    int pagesPerBatch = 1; // 0: as long as the source reports pending pages
    int loops = 1;
    bool loopWholeSession = false; // false: enable..disable repeats within one open
    std::vector<CycleEntry> cycle; // iteration i uses entry (i - 1) % size
    int waitMs = 30000;
    int timeoutSeconds = 120;
    int memoryEvery = 0;

    bool skipImageInfo = false;
    bool skipEndXfer = false;
    bool skipDisable = false;
    bool skipCloseDs = false;
    bool skipCloseDsm = false;
    bool pendingGet = false;
    bool identityGet = false;
    bool statusAlways = false;
    bool traceEvents = false;
    bool hidden = false;

    std::vector<SourceRequest> requests;
    std::vector<UiAction> script;
    int uiDelayMs = 0;
    int uiWaitMs = 15000;
    int boxDelayMs = 0;
    int boxAnswer = IDOK;
    bool autoAbout = true;
    int aboutDelayMs = 0;
};

inline const char* kUsage =
    "twain_app [options]   a TWAIN application for the Tq3480 data source\n"
    "  --product NAME         source to open (default \"Velmora Oskaro Tq3480 PCL\")\n"
    "  --dsm PATH             Source Manager library (default TWAIN_32.DLL)\n"
    "  --log FILE             write the log to FILE instead of stdout\n"
    "  --timestamps           add t=<ms since start> to every line\n"
    "  --xfer native|memory|file    transfer mechanism (default native)\n"
    "  --no-xfermech          do not set ICAP_XFERMECH\n"
    "  --mem app-pointer|app-handle|ds-pointer|ds-handle|FLAGS  memory buffers\n"
    "  --mem-size preferred|min|max|N[,N...]   Memory.Length per strip\n"
    "  --stall N              give up a page after N strips without rows (default 3)\n"
    "  --out PATTERN          BMP file per page, {n} = page number (default page{n}.bmp)\n"
    "  --no-save              do not write pages (native, memory)\n"
    "  --file-name PATTERN    DAT_SETUPFILEXFER/MSG_SET name, {n} = page number\n"
    "  --file-format N        format for MSG_SET (default 2, TWFF_BMP)\n"
    "  --no-file-setup        no DAT_SETUPFILEXFER before a file transfer\n"
    "  --ui | --no-ui         enable with or without the source's dialog (default no)\n"
    "  --modal                set ModalUI\n"
    "  --stay                 with --ui: keep enabled after a batch until MSG_CLOSEDSREQ\n"
    "  --pages N|all          pages per batch while Count > 0 (default 1)\n"
    "  --loop N               repeat N times (default 1)\n"
    "  --loop-scope enable|session   repeat enable..disable, or OPENDSM..CLOSEDSM\n"
    "  --xfer-cycle LIST      mechanism per iteration, in turn: native, file,\n"
    "                         memory or memory:MODE (a --mem mode), comma-separated\n"
    "  --wait MS              wait for an event this long (default 30000)\n"
    "  --timeout S            end the process after S seconds (default 120)\n"
    "  --memory-every N       MEMORY line every N pages\n"
    "  --set  [P:]CAP[:TYPE]=VALUE   MSG_SET; VALUE n | enum:a,b,..[@cur[@def]]\n"
    "                                | array:a,b,.. | range:min,max,step,def,cur\n"
    "  --get|--getcurrent|--getdefault|--reset|--query  [P:]CAP\n"
    "                         P is the phase: 4 after open (default), 5 after enable,\n"
    "                         6 at transfer ready; CAP a name or a number\n"
    "  --layout [P:]get|reset|set:L,T,R,B   DAT_IMAGELAYOUT (inches)\n"
    "  --pending-get          DAT_PENDINGXFERS/MSG_GET before the first transfer\n"
    "  --identity-get         DAT_IDENTITY/MSG_GET to the source after the open\n"
    "  --skip imageinfo|endxfer|disable|closeds|closedsm[,...]\n"
    "  --status-always        DAT_STATUS after every request, not only failures\n"
    "  --trace-events         log every MSG_PROCESSEVENT\n"
    "  --hidden               keep the application window hidden\n"
    "  --do ACTION            UI action (repeatable), --ui-script \"A;B;...\":\n"
    "      click:ID  command:ID  select:ID=INDEX  type:ID=TEXT  settext:ID=TEXT\n"
    "      key:ID=VK  hscroll:CODE  scan  close  about  state  controls  sleep:MS\n"
    "      wait:settings|gone|box   (controls: one CONTROL line per dialog control)\n"
    "  --ui-delay MS          pause before each UI action\n"
    "  --ui-wait MS           wait this long for the settings dialog (default 15000)\n"
    "  --box-delay MS         answer message boxes after MS (default 0)\n"
    "  --box-answer ok|cancel|yes|no|ID   button sent to message boxes (default ok)\n"
    "  --keep-about           do not press OK in the About box by itself\n"
    "  --about-delay MS       press About's OK after MS\n"
    "Exit: 0 done, 1 a request failed, 2 usage, 3 no Source Manager,\n"
    "      4 source not found, 5 timeout\n";

inline bool ParseLong(const std::string& text, long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    long parsed = strtol(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

inline bool ParseDouble(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    double parsed = strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            break;
        }
        start = at + 1;
    }
    return parts;
}

constexpr NamedValue kCapabilityNames[] = {
    {CAP_XFERCOUNT, "CAP_XFERCOUNT"},
    {ICAP_COMPRESSION, "ICAP_COMPRESSION"},
    {ICAP_PIXELTYPE, "ICAP_PIXELTYPE"},
    {ICAP_UNITS, "ICAP_UNITS"},
    {ICAP_XFERMECH, "ICAP_XFERMECH"},
    {CAP_FEEDERENABLED, "CAP_FEEDERENABLED"},
    {CAP_FEEDERLOADED, "CAP_FEEDERLOADED"},
    {CAP_SUPPORTEDCAPS, "CAP_SUPPORTEDCAPS"},
    {CAP_AUTOFEED, "CAP_AUTOFEED"},
    {CAP_CLEARPAGE, "CAP_CLEARPAGE"},
    {CAP_INDICATORS, "CAP_INDICATORS"},
    {CAP_UICONTROLLABLE, "CAP_UICONTROLLABLE"},
    {CAP_DEVICEONLINE, "CAP_DEVICEONLINE"},
    {CAP_DUPLEX, "CAP_DUPLEX"},
    {ICAP_BRIGHTNESS, "ICAP_BRIGHTNESS"},
    {ICAP_IMAGEFILEFORMAT, "ICAP_IMAGEFILEFORMAT"},
    {ICAP_LIGHTSOURCE, "ICAP_LIGHTSOURCE"},
    {ICAP_PHYSICALWIDTH, "ICAP_PHYSICALWIDTH"},
    {ICAP_PHYSICALHEIGHT, "ICAP_PHYSICALHEIGHT"},
    {ICAP_XRESOLUTION, "ICAP_XRESOLUTION"},
    {ICAP_YRESOLUTION, "ICAP_YRESOLUTION"},
    {ICAP_BITORDER, "ICAP_BITORDER"},
    {ICAP_LIGHTPATH, "ICAP_LIGHTPATH"},
    {ICAP_PIXELFLAVOR, "ICAP_PIXELFLAVOR"},
    {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY"},
    {ICAP_SUPPORTEDSIZES, "ICAP_SUPPORTEDSIZES"},
    {ICAP_XSCALING, "ICAP_XSCALING"},
    {ICAP_YSCALING, "ICAP_YSCALING"},
    {ICAP_BITDEPTH, "ICAP_BITDEPTH"},
};

// The item type a one value of each capability carries, as TWAIN defines it.
inline TW_UINT16 DefaultItemType(TW_UINT16 cap) {
    switch (cap) {
    case CAP_XFERCOUNT:
        return TWTY_INT16;
    case CAP_FEEDERENABLED:
    case CAP_FEEDERLOADED:
    case CAP_AUTOFEED:
    case CAP_CLEARPAGE:
    case CAP_INDICATORS:
    case CAP_UICONTROLLABLE:
    case CAP_DEVICEONLINE:
        return TWTY_BOOL;
    case ICAP_BRIGHTNESS:
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT:
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
    case ICAP_XSCALING:
    case ICAP_YSCALING:
        return TWTY_FIX32;
    default:
        return TWTY_UINT16;
    }
}

inline std::string CapabilityName(TW_UINT16 cap) {
    return NameOf(kCapabilityNames, cap, "CAP_");
}

// "[P:]NAME[:TYPE]" with an optional "=VALUE" already split off.
inline bool ParseCapabilityTarget(const std::string& target, SourceRequest* request,
                                  std::string* error) {
    std::vector<std::string> parts = Split(target, ':');
    size_t index = 0;
    if (parts.size() > 1 && parts[0].size() == 1 && parts[0][0] >= '4' && parts[0][0] <= '6') {
        request->phase = parts[0][0] - '0';
        index = 1;
    }
    if (index >= parts.size() || parts[index].empty()) {
        *error = "missing capability in " + target;
        return false;
    }
    unsigned cap = 0;
    long number = 0;
    if (ValueOf(kCapabilityNames, parts[index], &cap)) {
        request->cap = static_cast<TW_UINT16>(cap);
    } else if (ParseLong(parts[index], &number) && number >= 0 && number <= 0xFFFF) {
        request->cap = static_cast<TW_UINT16>(number);
    } else {
        *error = "unknown capability " + parts[index];
        return false;
    }
    request->capName = CapabilityName(request->cap);
    ++index;
    if (index < parts.size()) {
        unsigned type = 0;
        std::string name = parts[index];
        if (_strnicmp(name.c_str(), "TWTY_", 5) != 0) {
            name = "TWTY_" + name;
        }
        if (!ValueOf(kItemTypeNames, name, &type)) {
            *error = "unknown item type " + parts[index];
            return false;
        }
        request->hasType = true;
        request->itemType = static_cast<TW_UINT16>(type);
        ++index;
    }
    if (index != parts.size()) {
        *error = "cannot read " + target;
        return false;
    }
    if (!request->hasType) {
        request->itemType = DefaultItemType(request->cap);
    }
    return true;
}

inline bool ParseUiAction(const std::string& text, UiAction* action, std::string* error) {
    action->text = text;
    size_t colon = text.find(':');
    action->verb = text.substr(0, colon);
    std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    const std::string& verb = action->verb;
    if (verb == "scan" || verb == "close" || verb == "about" || verb == "state" ||
        verb == "controls") {
        if (!rest.empty()) {
            *error = "no argument expected: " + text;
            return false;
        }
        return true;
    }
    if (verb == "sleep" || verb == "hscroll") {
        long value = 0;
        if (!ParseLong(rest, &value)) {
            *error = "number expected: " + text;
            return false;
        }
        action->control = static_cast<int>(value);
        return true;
    }
    if (verb == "wait") {
        if (rest != "gone" && rest != "settings" && rest != "box") {
            *error = "wait:settings|gone|box expected: " + text;
            return false;
        }
        action->argument = rest;
        return true;
    }
    if (verb == "click" || verb == "command" || verb == "select" || verb == "type" ||
        verb == "settext" || verb == "key") {
        size_t equals = rest.find('=');
        std::string id = rest.substr(0, equals);
        long value = 0;
        if (!ParseLong(id, &value)) {
            *error = "control number expected: " + text;
            return false;
        }
        action->control = static_cast<int>(value);
        bool wantsArgument = verb != "click" && verb != "command";
        if (wantsArgument != (equals != std::string::npos)) {
            *error = wantsArgument ? "=VALUE expected: " + text : "no value expected: " + text;
            return false;
        }
        if (wantsArgument) {
            action->argument = rest.substr(equals + 1);
        }
        if ((verb == "select" || verb == "key") && !ParseLong(action->argument, &value)) {
            *error = "number expected: " + text;
            return false;
        }
        return true;
    }
    *error = "unknown UI action " + text;
    return false;
}

// A --mem mode: the flags of TW_IMAGEMEMXFER's Memory and the mode's name.
inline bool ParseMemoryMode(const std::string& value, TW_UINT32* flags, std::string* mode) {
    long number = 0;
    *mode = value;
    if (value == "app-pointer") {
        *flags = TWMF_APPOWNS | TWMF_POINTER;
    } else if (value == "app-handle") {
        *flags = TWMF_APPOWNS | TWMF_HANDLE;
    } else if (value == "ds-pointer") {
        *flags = TWMF_DSOWNS | TWMF_POINTER;
    } else if (value == "ds-handle") {
        *flags = TWMF_DSOWNS | TWMF_HANDLE;
    } else if (ParseLong(value, &number) && number >= 0) {
        *flags = static_cast<TW_UINT32>(number);
        *mode = "flags";
    } else {
        return false;
    }
    return true;
}

inline bool ParseCycle(const std::string& value, std::vector<CycleEntry>* cycle,
                       std::string* error) {
    cycle->clear();
    for (const std::string& text : Split(value, ',')) {
        CycleEntry entry;
        if (text == "native") {
            entry.mechanism = TWSX_NATIVE;
        } else if (text == "file") {
            entry.mechanism = TWSX_FILE;
        } else if (text == "memory") {
            entry.mechanism = TWSX_MEMORY;
        } else if (text.rfind("memory:", 0) == 0 &&
                   ParseMemoryMode(text.substr(7), &entry.memoryFlags, &entry.memoryMode)) {
            entry.mechanism = TWSX_MEMORY;
        } else {
            *error = "--xfer-cycle: cannot read " + text;
            return false;
        }
        cycle->push_back(entry);
    }
    return true;
}

inline bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&](std::string* value) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *value = argv[++i];
            return true;
        };
        auto nextInt = [&](int* value, long low, long high) {
            std::string text;
            long parsed = 0;
            if (!next(&text)) {
                return false;
            }
            if (!ParseLong(text, &parsed) || parsed < low || parsed > high) {
                *error = arg + ": bad number " + text;
                return false;
            }
            *value = static_cast<int>(parsed);
            return true;
        };
        std::string value;
        if (arg == "--help" || arg == "-h") {
            *error = "";
            return false;
        } else if (arg == "--product") {
            if (!next(&options->product))
                return false;
        } else if (arg == "--dsm") {
            if (!next(&options->dsmPath))
                return false;
        } else if (arg == "--log") {
            if (!next(&options->logPath))
                return false;
        } else if (arg == "--timestamps") {
            options->timestamps = true;
        } else if (arg == "--xfer") {
            if (!next(&value))
                return false;
            if (value == "native") {
                options->mechanism = TWSX_NATIVE;
            } else if (value == "memory") {
                options->mechanism = TWSX_MEMORY;
            } else if (value == "file") {
                options->mechanism = TWSX_FILE;
            } else {
                *error = "--xfer native|memory|file";
                return false;
            }
        } else if (arg == "--no-xfermech") {
            options->setMechanism = false;
        } else if (arg == "--mem") {
            if (!next(&value))
                return false;
            if (!ParseMemoryMode(value, &options->memoryFlags, &options->memoryMode)) {
                *error = "--mem app-pointer|app-handle|ds-pointer|ds-handle|FLAGS";
                return false;
            }
        } else if (arg == "--mem-size") {
            if (!next(&value))
                return false;
            options->memorySizes.clear();
            if (value == "preferred" || value == "min" || value == "max") {
                options->memorySizeMode = value;
            } else {
                options->memorySizeMode = "explicit";
                for (const std::string& part : Split(value, ',')) {
                    long size = 0;
                    if (!ParseLong(part, &size) || size < 0) {
                        *error = "--mem-size: bad size " + part;
                        return false;
                    }
                    options->memorySizes.push_back(size);
                }
            }
        } else if (arg == "--stall") {
            if (!nextInt(&options->stallStrips, 1, 1000000))
                return false;
        } else if (arg == "--out") {
            if (!next(&options->outPattern))
                return false;
        } else if (arg == "--no-save") {
            options->save = false;
        } else if (arg == "--file-name") {
            if (!next(&options->fileNamePattern))
                return false;
        } else if (arg == "--file-format") {
            int format = 0;
            if (!nextInt(&format, 0, 0xFFFF))
                return false;
            options->fileFormat = static_cast<TW_UINT16>(format);
        } else if (arg == "--no-file-setup") {
            options->fileSetup = false;
        } else if (arg == "--ui") {
            options->showUi = true;
        } else if (arg == "--no-ui") {
            options->showUi = false;
        } else if (arg == "--modal") {
            options->modalUi = true;
        } else if (arg == "--stay") {
            options->stay = true;
        } else if (arg == "--pages") {
            if (i + 1 < argc && std::string(argv[i + 1]) == "all") {
                options->pagesPerBatch = 0;
                ++i;
            } else if (!nextInt(&options->pagesPerBatch, 1, 1000000)) {
                return false;
            }
        } else if (arg == "--loop") {
            if (!nextInt(&options->loops, 1, 100000000))
                return false;
        } else if (arg == "--loop-scope") {
            if (!next(&value))
                return false;
            if (value != "enable" && value != "session") {
                *error = "--loop-scope enable|session";
                return false;
            }
            options->loopWholeSession = value == "session";
        } else if (arg == "--xfer-cycle") {
            if (!next(&value) || !ParseCycle(value, &options->cycle, error))
                return false;
        } else if (arg == "--wait") {
            if (!nextInt(&options->waitMs, 0, 100000000))
                return false;
        } else if (arg == "--timeout") {
            if (!nextInt(&options->timeoutSeconds, 0, 10000000))
                return false;
        } else if (arg == "--memory-every") {
            if (!nextInt(&options->memoryEvery, 0, 100000000))
                return false;
        } else if (arg == "--set" || arg == "--cap" || arg == "--get" || arg == "--getcurrent" ||
                   arg == "--getdefault" || arg == "--reset" || arg == "--query") {
            if (!next(&value))
                return false;
            SourceRequest request;
            std::string target = value;
            if (arg == "--set" || arg == "--cap") {
                size_t equals = value.find('=');
                if (equals == std::string::npos) {
                    *error = arg + " CAP=VALUE expected";
                    return false;
                }
                target = value.substr(0, equals);
                request.message = MSG_SET;
                request.hasValue = true;
                request.value = value.substr(equals + 1);
            } else {
                request.message = arg == "--get"          ? MSG_GET
                                  : arg == "--getcurrent" ? MSG_GETCURRENT
                                  : arg == "--getdefault" ? MSG_GETDEFAULT
                                  : arg == "--reset"      ? MSG_RESET
                                                          : MSG_QUERYSUPPORT;
            }
            if (!ParseCapabilityTarget(target, &request, error))
                return false;
            options->requests.push_back(request);
        } else if (arg == "--layout") {
            if (!next(&value))
                return false;
            SourceRequest request;
            request.kind = SourceRequest::kLayout;
            std::string what = value;
            if (what.size() > 2 && what[1] == ':' && what[0] >= '4' && what[0] <= '6') {
                request.phase = what[0] - '0';
                what = what.substr(2);
            }
            if (what == "get") {
                request.message = MSG_GET;
            } else if (what == "reset") {
                request.message = MSG_RESET;
            } else if (what.rfind("set:", 0) == 0) {
                request.message = MSG_SET;
                std::vector<std::string> sides = Split(what.substr(4), ',');
                if (sides.size() != 4) {
                    *error = "--layout set:L,T,R,B";
                    return false;
                }
                for (int side = 0; side < 4; ++side) {
                    if (!ParseDouble(sides[side], &request.frame[side])) {
                        *error = "--layout: bad number " + sides[side];
                        return false;
                    }
                }
            } else {
                *error = "--layout get|reset|set:L,T,R,B";
                return false;
            }
            options->requests.push_back(request);
        } else if (arg == "--pending-get") {
            options->pendingGet = true;
        } else if (arg == "--identity-get") {
            options->identityGet = true;
        } else if (arg == "--skip") {
            if (!next(&value))
                return false;
            for (const std::string& step : Split(value, ',')) {
                if (step == "imageinfo") {
                    options->skipImageInfo = true;
                } else if (step == "endxfer") {
                    options->skipEndXfer = true;
                } else if (step == "disable") {
                    options->skipDisable = true;
                } else if (step == "closeds") {
                    options->skipCloseDs = true;
                } else if (step == "closedsm") {
                    options->skipCloseDsm = true;
                } else {
                    *error = "--skip: unknown step " + step;
                    return false;
                }
            }
        } else if (arg == "--status-always") {
            options->statusAlways = true;
        } else if (arg == "--trace-events") {
            options->traceEvents = true;
        } else if (arg == "--hidden") {
            options->hidden = true;
        } else if (arg == "--do" || arg == "--ui-script") {
            if (!next(&value))
                return false;
            std::vector<std::string> actions =
                arg == "--do" ? std::vector<std::string>{value} : Split(value, ';');
            for (const std::string& text : actions) {
                if (text.empty())
                    continue;
                UiAction action;
                if (!ParseUiAction(text, &action, error))
                    return false;
                options->script.push_back(action);
            }
        } else if (arg == "--ui-delay") {
            if (!nextInt(&options->uiDelayMs, 0, 100000000))
                return false;
        } else if (arg == "--ui-wait") {
            if (!nextInt(&options->uiWaitMs, 0, 100000000))
                return false;
        } else if (arg == "--box-delay") {
            if (!nextInt(&options->boxDelayMs, 0, 100000000))
                return false;
        } else if (arg == "--box-answer") {
            if (!next(&value))
                return false;
            long id = 0;
            if (value == "ok") {
                options->boxAnswer = IDOK;
            } else if (value == "cancel") {
                options->boxAnswer = IDCANCEL;
            } else if (value == "yes") {
                options->boxAnswer = IDYES;
            } else if (value == "no") {
                options->boxAnswer = IDNO;
            } else if (ParseLong(value, &id) && id > 0 && id < 0x10000) {
                options->boxAnswer = static_cast<int>(id);
            } else {
                *error = "--box-answer ok|cancel|yes|no|ID";
                return false;
            }
        } else if (arg == "--keep-about") {
            options->autoAbout = false;
        } else if (arg == "--about-delay") {
            if (!nextInt(&options->aboutDelayMs, 0, 100000000))
                return false;
        } else {
            *error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

} // namespace twain_app
