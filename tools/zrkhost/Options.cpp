#include "Options.h"

#include <tinyxml.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zrkhost {

const char* const kUsage =
    "usage: zrkhost [--plugin PATH] [--host FILE] [--settings FILE | --server URL --location N\n"
    "               --refresh MIN --lookahead DAYS] [--pending MS [--main-thread]] [--pretty]\n"
    "Loads the device plug-in, plays its host and reads commands from standard input, one a line:\n"
    "  enable | disable | refresh | sync [TEXT] | stop | start | save | load FILE | definition |\n"
    "  configure | wait MS | quit\n"
    "End of input quits. Every effect is written to standard output as one JSON object a line.\n";

namespace {

bool ParseInt(const char* text, int* out) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
    *out = int(value);
    return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* out, std::string* error) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--pretty") {
            o.pretty = true;
            continue;
        }
        if (arg == "--main-thread") {
            o.mainThread = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        bool known = arg == "--plugin" || arg == "--host" || arg == "--settings" || arg == "--server" ||
                     arg == "--location" || arg == "--refresh" || arg == "--lookahead" || arg == "--pending";
        if (!known) {
            *error = "unknown option " + arg;
            return false;
        }
        if (i + 1 >= argc) {
            *error = arg + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        int number = 0;
        bool numeric =
            arg == "--location" || arg == "--refresh" || arg == "--lookahead" || arg == "--pending";
        if (numeric && !ParseInt(value, &number)) {
            *error = arg + " needs a whole number, not \"" + value + "\"";
            return false;
        }
        if (arg == "--plugin") {
            o.plugin = value;
        } else if (arg == "--host") {
            o.hostFile = value;
        } else if (arg == "--settings") {
            o.settingsFile = value;
        } else if (arg == "--server") {
            o.hasServer = true;
            o.server = value;
        } else if (arg == "--location") {
            o.hasLocation = true;
            o.location = number;
        } else if (arg == "--refresh") {
            o.hasRefresh = true;
            o.refresh = number;
        } else if (arg == "--lookahead") {
            o.hasLookahead = true;
            o.lookahead = number;
        } else if (number < 0) {
            *error = "--pending needs 0 or more milliseconds";
            return false;
        } else {
            o.pendingMs = number;
        }
    }
    if (o.mainThread && o.pendingMs < 0) {
        *error = "--main-thread needs --pending";
        return false;
    }
    if (!o.settingsFile.empty() && o.HasConnection()) {
        *error = "--settings excludes --server, --location, --refresh and --lookahead";
        return false;
    }
    *out = o;
    return true;
}

std::string BuildSettings(const Options& options, const std::string& base) {
    TiXmlDocument doc;
    if (!base.empty()) doc.Parse(base.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* root = base.empty() || doc.Error() ? nullptr : doc.RootElement();
    if (!root || std::strcmp(root->Value(), "DeviceData") != 0) {
        doc = TiXmlDocument();
        root = new TiXmlElement("DeviceData");
        root->SetAttribute("Version", 1000);
        root->SetAttribute("Name", "");
        root->SetAttribute("DeviceInternalVersion", 1);
        doc.LinkEndChild(root);
    }
    TiXmlElement* setup = root->FirstChildElement("Setup");
    if (!setup) {
        setup = new TiXmlElement("Setup");
        setup->SetAttribute("Local", 1);
        root->LinkEndChild(setup);
    }
    // Attributes keep their place when replaced; new ones follow in the device's own order.
    if (options.hasServer) setup->SetAttribute("URL", options.server.c_str());
    if (options.hasRefresh) setup->SetAttribute("RefreshPeriod", options.refresh);
    if (options.hasLookahead) setup->SetAttribute("Lookahead", options.lookahead);
    if (options.hasLocation) setup->SetAttribute("LocationId", options.location);
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    root->Accept(&printer);
    return printer.CStr();
}

}  // namespace zrkhost
