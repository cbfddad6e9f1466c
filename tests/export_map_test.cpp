// The dynamic symbol table of the built shared library: every symbol a host
// needs is exported under the version tag of the release that added it, and
// nothing else is exported.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cxxabi.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The released 1.0 interface keeps exactly its symbols; what came later
// carries the tag of its own release.
const std::string kVersionTag = "QUORVEL_VERSION_1.0";
const std::map<std::string, std::string> kAddedLater = {{"closeSealedSession", "QUORVEL_VERSION_1.1"}};

std::string versionTagOf(const std::string& name) {
    const auto later = kAddedLater.find(name);
    return later == kAddedLater.end() ? kVersionTag : later->second;
}

// Parameter types as they demangle.
const std::string S = "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >";
const std::string kMap =
    "std::map<" + S + ", " + S + ", std::less<" + S + " >, std::allocator<std::pair<" + S + " const, " + S + " > > >";

// The exported functions with plain names.
const std::vector<std::string> kPlainFunctions = {"create",
                                                  "destroy",
                                                  "initSyslog",
                                                  "initXDAS",
                                                  "getCEFHostName",
                                                  "checkEventSeverity",
                                                  "isAppenderEnabled",
                                                  "closeSealedSession"};

// Each exported class with the members a host calls, demangled without the
// class prefix and without ABI tags. Interfaces export only their destructor.
const std::map<std::string, std::vector<std::string>> kXdasClasses = {
    {"I_XDAS_Event", {"~I_XDAS_Event()"}},
    {"I_XDASObserver", {"~I_XDASObserver()"}},
    {"I_XDASInitiator", {"~I_XDASInitiator()"}},
    {"I_XDASTarget", {"~I_XDASTarget()"}},
    {"I_XDASAction", {"~I_XDASAction()"}},
    {"I_XDASEvnt", {"~I_XDASEvnt()"}},
    {"I_XDASLog", {"~I_XDASLog()"}},
    {"I_XDASAcc", {"~I_XDASAcc()"}},
    {"I_XDASEntity", {"~I_XDASEntity()"}},
    {"XDAS_Event",
     {"setId(" + S + ")", "setSource(" + S + ")", "getId()", "getSource()", "getObserver()", "getInitiator()",
      "getTarget()", "getAction()", "~XDAS_Event()", "Write_Event_Array(" + S + ")", "XDAS_Log(" + S + ")"}},
    {"XDASObserver", {"getAccount()", "getEntity()", "~XDASObserver()"}},
    {"XDASInitiator",
     {"getAccount()", "getEntity()", "setAssertions(" + kMap + ")", "getIni_Ass_Obj()", "~XDASInitiator()"}},
    {"XDASTarget", {"getAccount()", "getEntity()", "setData(" + kMap + ")", "getTarg_Data_Obj()", "~XDASTarget()"}},
    {"XDASAction",
     {"getEvnt()", "getTime()", "getLog()", "setOutcome(" + S + ")", "getOutcome()", "setExtendedOutcome(" + S + ")",
      "getExtendedOutcome()", "setDetails(" + S + ")", "getDetails()", "~XDASAction()"}},
    {"XDASEvnt",
     {"setId(" + S + ")", "setName(" + S + ")", "setCorrelationID(" + S + ")", "setSubEvent(" + S + ")", "getId()",
      "getName()", "getCorrelationID()", "getSubEvent()", "~XDASEvnt()"}},
    {"XDASLog", {"setSeverity(int)", "getSeverity()", "~XDASLog()"}},
    {"XDASAcc",
     {"setDomain(" + S + ")", "setName(" + S + ")", "setId(" + S + ")", "getDomain()", "getName()", "getId()",
      "~XDASAcc()"}},
    {"XDASEntity",
     {"setSysAddr(" + S + ")", "setSysName(" + S + ")", "setSvcName(" + S + ")", "setSvcComp(" + S + ")",
      "getSysAddr()", "getSysName()", "getSvcName()", "getSvcComp()", "~XDASEntity()"}},
};

// --- CEF events -------------------------------------------------------------
// The CEF_EVENT members a host calls, in the same form as above. Any member
// of CEF_EVENT, its vtable and typeinfo are allowed already.
std::vector<std::string> cefEventMembers() {
    // Fields as their accessors spell them (getcs1Label beside getCn1Label).
    const char* const textFields =
        "DeviceVendor DeviceProduct DeviceVersion SignatureID Name DeviceDnsDomain DeviceHostName DeviceAddress "
        "SourceDnsDomain SourceUserId SourceUserName SourceAddress SourceHostName DestinationDnsDomain "
        "DestinationUserId DestinationUserName DestinationAddress DestinationServiceName DestinationHostName Cs1 Cs2 "
        "Cs3 Cs4 Cs5 Cs6 FlexString1 FlexString2 Reason Outcome cs1Label cs2Label cs3Label cs4Label cs5Label "
        "cs6Label Cat Cn1Label Cn2Label Cn3Label FlexString1Label FlexString2Label FlexNumber1Label "
        "FlexNumber2Label C6a1 C6a2 C6a3 SourceServiceName SourceProcessName";
    const char* const intFields = "Version Severity FlexNumber1 FlexNumber2 FileType SourcePort DestinationPort";
    const char* const longFields = "Cn1 Cn2 Cn3";
    std::vector<std::string> members = {"CEF_EVENT()",         "~CEF_EVENT()",       "getTime() const",
                                        "getTimeZone() const", "CEF_Log(" + S + ")", "Write_CEF_Event(" + S + ")"};
    const std::pair<const char*, std::string> groups[] = {{textFields, S}, {intFields, "int"}, {longFields, "long"}};
    for (const auto& [fields, type] : groups) {
        std::istringstream names(fields);
        for (std::string field; names >> field;) {
            members.push_back("get" + field + "() const");
            members.push_back("set" + field + "(" + type + ")");
        }
    }
    return members;
}

const std::map<std::string, std::vector<std::string>> kCefClasses = {
    {"CEF_EVENT", cefEventMembers()},
};
// -----------------------------------------------------------------------------

struct Symbol {
    std::string name;    // demangled, ABI tags removed
    std::string version; // what follows the name: "@@TAG", "@TAG" or nothing
};

std::string demangle(const std::string& name) {
    if (name.rfind("_Z", 0) != 0) return name;
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                           &std::free);
    std::string result = status == 0 ? text.get() : name;
    for (std::size_t tag; (tag = result.find("[abi:cxx11]")) != std::string::npos;)
        result.erase(tag, 11);
    return result;
}

// The symbols the library defines, as `readelf --dyn-syms -W` lists them.
std::vector<Symbol> exportedSymbols() {
    std::istringstream listing(quorvel_test::runProcess({"readelf", "--dyn-syms", "-W", QUORVEL_SHARED_LIBRARY}).out);
    std::vector<Symbol> symbols;
    for (std::string line; std::getline(listing, line);) {
        std::istringstream fields(line);
        std::string number, value, size, type, bind, visibility, section, name;
        if (!(fields >> number >> value >> size >> type >> bind >> visibility >> section >> name)) continue;
        if (number.back() != ':' || !std::isdigit(static_cast<unsigned char>(number[0])) || section == "UND") continue;
        // The version definition itself.
        if (section == "ABS" && name.rfind("QUORVEL_VERSION_", 0) == 0) continue;
        const std::size_t at = name.find('@');
        symbols.push_back(Symbol{demangle(name.substr(0, at)), at == std::string::npos ? "" : name.substr(at)});
    }
    return symbols;
}

std::vector<std::string> requiredNames() {
    std::vector<std::string> names = kPlainFunctions;
    for (const auto* classes : {&kXdasClasses, &kCefClasses}) {
        for (const auto& [className, members] : *classes) {
            for (const auto& member : members)
                names.push_back(className + "::" + member);
        }
    }
    return names;
}

bool isAllowed(const std::string& name) {
    for (const auto& plain : kPlainFunctions) {
        if (name == plain) return true;
    }
    if (name.rfind("json_spirit::", 0) == 0) return true;
    for (const auto* classes : {&kXdasClasses, &kCefClasses}) {
        for (const auto& entry : *classes) {
            const std::string& className = entry.first;
            if (name.rfind(className + "::", 0) == 0 || name == "vtable for " + className ||
                name == "typeinfo for " + className || name == "typeinfo name for " + className) {
                return true;
            }
        }
    }
    return false;
}

TEST(ExportedSymbols, RequiredOnesCarryTheVersionTag) {
    const std::vector<Symbol> symbols = exportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "no symbols read from " << QUORVEL_SHARED_LIBRARY;
    for (const auto& required : requiredNames()) {
        bool found = false;
        for (const auto& symbol : symbols) {
            if (symbol.name != required) continue;
            found = true;
            EXPECT_EQ(symbol.version, "@@" + versionTagOf(required)) << required;
        }
        EXPECT_TRUE(found) << "not exported: " << required;
    }
}

TEST(ExportedSymbols, NothingElseIsExported) {
    const std::vector<Symbol> symbols = exportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "no symbols read from " << QUORVEL_SHARED_LIBRARY;
    for (const auto& symbol : symbols) {
        EXPECT_TRUE(isAllowed(symbol.name)) << "unexpected export: " << symbol.name << symbol.version;
        EXPECT_EQ(symbol.version, "@@" + versionTagOf(symbol.name)) << symbol.name;
    }
}

} // namespace
