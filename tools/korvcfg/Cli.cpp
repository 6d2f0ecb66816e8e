// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Cli.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/ApplyTable.h"
#include "tools/korvcfg/DeviceSession.h"
#include "tools/korvcfg/Json.h"
#include "tools/korvcfg/Values.h"

#include "net/IdComponent.h"
#include "net/IdStack.h"

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace korvcfg {

namespace {

const char MainHelp[] = R"(usage: korvcfg COMMAND [OPTIONS]

Finds, reads and configures the serial-to-Ethernet devices on this segment, as the configuration
window does: one UDP broadcast to port 60000, answers on UDP port 60001 (so the window must not be
running at the same time).

commands:
  scan    list the devices that answer
  read    show one device's configuration
  write   change one device's configuration
  apply   configure many devices from a CSV or JSON file
  export  read every device that answers, as a table that apply takes

  korvcfg COMMAND --help   describes a command, with an example
  korvcfg --version

Every request leaves through every network adapter that can carry a broadcast, once for each IPv4
network (two adapters on one network send one copy); each command takes
--interface NAME to send through that one adapter only (an unknown NAME lists the adapters and
ends with status 2, before port 60001 is bound).

exit status: 0 done, 1 a device was not found, did not answer or did not acknowledge (or port 60001
is in use), 2 the command line or the file was wrong (then nothing was sent).
)";

const char ScanHelp[] = R"(usage: korvcfg scan [--wait MS] [--json] [--interface NAME]

Broadcasts one scan request and lists every device that answers within the wait, one line per
device (IP address, MAC), in the order they answered. Two devices answering from one address are
both listed, with a warning naming the address.

  --wait MS   how long to collect answers, in milliseconds (default 1500)
  --json      print one JSON array of {"ip": ..., "mac": ...}
  --interface NAME   send through this network adapter only (default: every adapter)

example:
  korvcfg scan --wait 3000 --json
)";

const char ReadHelp[] = R"(usage: korvcfg read MAC [--wait MS] [--json] [--interface NAME]

Finds the device by a scan and reads its configuration: one "key: value" line per field.
MAC as the window lists it (00-4C-5A-1E-0B-21); colons and lower case are accepted too.

  --wait MS   how long the scan collects answers, in milliseconds (default 1500)
  --json      print one JSON object with mac, ip, mask, gateway, remote_ip, port, mode, baud
              (mode and baud are null when the device reports a code korvcfg has no name for)
  --interface NAME   send through this network adapter only (default: every adapter)

example:
  korvcfg read 00-4C-5A-1E-0B-21 --json
)";

const char WriteHelp[] = R"(usage: korvcfg write MAC [--ip A.B.C.D] [--mask A.B.C.D] [--gateway A.B.C.D]
                     [--remote-ip A.B.C.D] [--port N] [--mode MODE] [--baud N] [--verify]
                     [--interface NAME]

Reads the device's configuration, replaces the values given, and writes it back in eight steps
(device IP, subnet mask, network mode, remote IP, gateway, local port, baud rate, commit), each sent
up to ten times until the device acknowledges it. Progress goes to standard error, one line per
acknowledged step. The device takes the new values on the commit; restart it then, as the
success line says.

  --ip, --mask, --gateway, --remote-ip   addresses, four numbers from 0 to 255
  --port N      local port, 0 to 65535
  --mode MODE   tcp-server, tcp-client, udp-server or udp-client
  --baud N      2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600 or 115200
  --verify      after the commit, find the device again, read its configuration record back and
                compare every field of it with what was written
  --interface NAME   send through this network adapter only (default: every adapter)

example:
  korvcfg write 00-4C-5A-1E-0B-21 --ip 192.168.1.50 --gateway 192.168.1.1 --baud 115200 --verify
)";

const char ApplyHelp[] = R"(usage: korvcfg apply FILE [--verify] [--parallel N] [--json] [--interface NAME]

Configures many devices from a table: one scan finds them all, then each is read, written (and with
--verify read back), going on after a device fails. One result line per device, in the table's
order, then a summary; with --json one array of {"mac": ..., "ok": true|false, "error": ...}.
--parallel N configures up to N devices at once (default 1: one after another); devices that
answer from one address are still configured one after another, since their acknowledgements
cannot be told apart. --interface NAME sends through this network adapter only (default: every
adapter).

FILE is CSV or JSON, told apart by its content. CSV: the header
    mac,ip,mask,gateway,remote_ip,port,mode,baud
then one device per line; an empty cell keeps that device's value. JSON: an array of objects with
the same keys ("port" and "baud" as numbers); a key that is missing or null keeps the value.

example:
  korvcfg apply site-4.csv --verify
  with site-4.csv:
    mac,ip,mask,gateway,remote_ip,port,mode,baud
    00-4C-5A-1E-0B-21,192.168.4.11,255.255.255.0,192.168.4.1,192.168.4.2,4001,tcp-server,9600
    00-4C-5A-1E-0B-22,192.168.4.12,,,,,,115200
)";

const char ExportHelp[] = R"(usage: korvcfg export [--wait MS] [--json] [--interface NAME]

Scans once and reads every device that answers, printing the table that apply takes: CSV with the
header mac,ip,mask,gateway,remote_ip,port,mode,baud, or with --json an array of the objects that
read --json prints. A device that does not answer its read is named on standard error and left out
(exit status 1). A mode or speed code that korvcfg has no name for is left empty (null), which apply
takes as "keep the device's value".

  --wait MS   how long the scan collects answers, in milliseconds (default 1500)
  --json      print JSON instead of CSV
  --interface NAME   send through this network adapter only (default: every adapter)

example:
  korvcfg export > site.csv
  (edit site.csv)
  korvcfg apply site.csv --verify
)";

struct Command {
    const char* name;
    const char* help;
    std::set<std::string> valued; // options that take a value
    std::set<std::string> flags;
    std::size_t positionals; // exactly this many
    const char* positionalName;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"scan", ScanHelp, {"--wait", "--interface"}, {"--json"}, 0, ""},
        {"read", ReadHelp, {"--wait", "--interface"}, {"--json"}, 1, "MAC"},
        {"write",
         WriteHelp,
         {"--ip", "--mask", "--gateway", "--remote-ip", "--port", "--mode", "--baud", "--interface"},
         {"--verify"},
         1,
         "MAC"},
        {"apply", ApplyHelp, {"--interface", "--parallel"}, {"--verify", "--json"}, 1, "FILE"},
        {"export", ExportHelp, {"--wait", "--interface"}, {"--json"}, 0, ""},
    };
    return commands;
}

struct ParsedArgs {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positionals;
    bool help = false;
};

ParsedArgs ParseArgs(const Command& command, const std::vector<std::string>& args) {
    ParsedArgs parsed;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            parsed.positionals.push_back(arg);
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (command.valued.count(arg) != 0) {
            if (!inlineValue && i + 1 >= args.size()) {
                throw InputError(arg + " needs a value");
            }
            if (parsed.values.count(arg) != 0) {
                throw InputError(arg + " is given twice");
            }
            parsed.values[arg] = inlineValue ? *inlineValue : args[++i];
        } else if (command.flags.count(arg) != 0 && !inlineValue) {
            parsed.flags.insert(arg);
        } else {
            throw InputError(std::string("unknown option ") + args[i] + " for " + command.name);
        }
    }
    if (!parsed.help && parsed.positionals.size() != command.positionals) {
        if (parsed.positionals.size() < command.positionals) {
            throw InputError(std::string(command.name) + " needs " + command.positionalName);
        }
        throw InputError("unexpected argument '" + parsed.positionals[command.positionals] + "'");
    }
    return parsed;
}

std::optional<std::string> Value(const ParsedArgs& parsed, const std::string& option) {
    const auto it = parsed.values.find(option);
    return it == parsed.values.end() ? std::nullopt : std::optional(it->second);
}

// Opens the session on the adapter --interface names (every adapter without it). An unknown name
// ends the command as a wrong command line does, listing the adapters, before port 60001 is bound:
// a wrong name is reported as such even while another program holds the port.
void Open(DeviceSession& session, const ParsedArgs& parsed) {
    const auto name = Value(parsed, "--interface");
    if (name) {
        // The socket layer exists only while a component does.
        const TIdComponent socketLayer;
        std::string known;
        bool listed = false;
        for (const TIdBroadcastAdapter& adapter : TIdStack::Instance().BroadcastAdapters()) {
            listed = listed || adapter.Name == *name;
            known += "\n  " + adapter.Name + "  " + DottedQuad(adapter.Address);
        }
        if (!listed) {
            throw InputError("--interface: no adapter '" + *name + "' that can broadcast; the adapters are:" +
                             (known.empty() ? std::string("\n  (none but loopback)") : known));
        }
    }
    session.Interface = name.value_or("");
    session.Open();
}

OpsMessages MessagesTo(std::ostream& err) {
    return OpsMessages{[&err](const std::string& line) { err << line << "\n"
                                                             << std::flush; },
                       [&err](const std::string& line) {
                           err << "korvcfg: warning: " << line << "\n" << std::flush;
                       }};
}

std::string ConfigJson(const std::string& mac, const DeviceConfig& config) {
    JsonObject object;
    object.String("mac", mac);
    for (const ConfigField& field : ConfigFields) {
        const std::string shown = field.shown(config);
        if (!field.known(config)) {
            object.Raw(field.name, "null");
        } else if (field.number) {
            object.Raw(field.name, shown);
        } else {
            object.String(field.name, shown);
        }
    }
    return object.Text();
}

void PrintSettings(std::ostream& out, const std::string& mac, const DeviceConfig& config, bool json) {
    if (json) {
        out << ConfigJson(mac, config) << "\n";
        return;
    }
    out << "mac: " << mac << "\n";
    for (const ConfigField& field : ConfigFields) {
        const std::string shown = field.shown(config);
        out << field.name << ": " << (field.known(config) ? shown : "unknown (" + shown + ")") << "\n";
    }
}

int Scan(const ParsedArgs& parsed, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const auto wait = Value(parsed, "--wait");
    const uint32_t waitMs = wait ? ParseWaitMs(*wait) : ScanWaitMs;
    DeviceSession session(clock, MessagesTo(err));
    Open(session, parsed);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (parsed.flags.count("--json") != 0) {
        std::vector<std::string> items;
        for (const FoundDevice& device : found) {
            items.push_back(JsonObject().String("ip", device.ip).String("mac", device.mac).Text());
        }
        out << JsonArray(items);
    } else {
        for (const FoundDevice& device : found) {
            out << device.ip << "  " << device.mac << "\n";
        }
    }
    if (found.empty()) {
        err << "korvcfg: no device answered within " << waitMs << " ms\n";
    }
    return ExitDone;
}

int Read(const ParsedArgs& parsed, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string mac = ParseMac(parsed.positionals[0]);
    const auto wait = Value(parsed, "--wait");
    const uint32_t waitMs = wait ? ParseWaitMs(*wait) : ScanWaitMs;
    DeviceSession session(clock, MessagesTo(err));
    Open(session, parsed);
    const FoundDevice device = Locate(session.Scan(waitMs), mac, waitMs);
    PrintSettings(out, device.mac, session.Read(device), parsed.flags.count("--json") != 0);
    return ExitDone;
}

int Write(const ParsedArgs& parsed, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string mac = ParseMac(parsed.positionals[0]);
    SettingsChange change;
    for (const ConfigField& field : ConfigFields) {
        if (const auto v = Value(parsed, WriteOption(field))) {
            field.parse(change, *v, WriteOption(field));
        }
    }
    const bool verify = parsed.flags.count("--verify") != 0;

    DeviceSession session(clock, MessagesTo(err));
    Open(session, parsed);
    const FoundDevice device = Locate(session.Scan(ScanWaitMs), mac, ScanWaitMs);
    const DeviceConfig target = Merged(session.Read(device), change);
    session.Write(device, target);
    if (verify) {
        session.Verify(device, target, ScanWaitMs);
    }
    // As the window says after its commit: the device runs on what it took once it has restarted.
    out << device.mac << " configured" << (verify ? " and verified" : "")
        << "; restart the device to put the new settings to use\n";
    return ExitDone;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError(path + ": cannot be read");
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

int Apply(const ParsedArgs& parsed, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string path = parsed.positionals[0];
    const auto parallelText = Value(parsed, "--parallel");
    const std::size_t parallel = parallelText ? ParseParallel(*parallelText) : 1;
    std::vector<ApplyRow> rows;
    try {
        rows = ParseApplyTable(ReadWholeFile(path));
    } catch (const InputError& e) {
        const std::string what = e.what();
        throw InputError(what.rfind(path, 0) == 0 ? what : path + ": " + what);
    }
    const bool json = parsed.flags.count("--json") != 0;
    DeviceSession session(clock, MessagesTo(err));
    Open(session, parsed);
    const std::vector<ApplyResult> results =
        ApplyTable(session, rows, parsed.flags.count("--verify") != 0, parallel);
    std::size_t failed = 0;
    std::vector<std::string> items;
    for (const ApplyResult& r : results) {
        failed += r.ok ? 0 : 1;
        if (json) {
            items.push_back(JsonObject()
                                .String("mac", r.mac)
                                .Raw("ok", r.ok ? "true" : "false")
                                .Raw("error", r.ok ? "null" : JsonQuote(r.error))
                                .Text());
        } else {
            out << r.mac << "  " << (r.ok ? "ok" : "FAILED: " + r.error) << "\n";
        }
    }
    if (json) {
        out << JsonArray(items);
    }
    // With --json the summary stays off standard output, which holds the one JSON document.
    std::ostream& summary = json ? err : out;
    summary << results.size() << " device" << (results.size() == 1 ? "" : "s") << ": "
            << results.size() - failed << " configured, " << failed << " failed\n";
    return failed == 0 ? ExitDone : ExitFailed;
}

int Export(const ParsedArgs& parsed, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const auto wait = Value(parsed, "--wait");
    const uint32_t waitMs = wait ? ParseWaitMs(*wait) : ScanWaitMs;
    const bool json = parsed.flags.count("--json") != 0;
    DeviceSession session(clock, MessagesTo(err));
    Open(session, parsed);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (found.empty()) {
        err << "korvcfg: no device answered within " << waitMs << " ms\n";
    }
    std::vector<std::string> items;
    std::string csv = ApplyHeader() + "\n";
    std::set<std::string> listed;
    bool missed = false;
    for (const FoundDevice& device : found) {
        // apply takes a MAC once; the scan has already warned of one that answered from two addresses.
        if (!listed.insert(device.mac).second) {
            err << "korvcfg export: " << device.mac << " (" << device.ip
                << ") left out: listed once already\n";
            missed = true;
            continue;
        }
        DeviceConfig config;
        try {
            config = session.Read(device);
        } catch (const OpsError& e) {
            err << "korvcfg export: " << e.what() << "; left out\n";
            missed = true;
            continue;
        }
        items.push_back(ConfigJson(device.mac, config));
        csv += device.mac;
        for (const ConfigField& field : ConfigFields) {
            csv += "," + (field.known(config) ? field.shown(config) : std::string());
        }
        csv += "\n";
    }
    out << (json ? JsonArray(items) : csv);
    return missed ? ExitFailed : ExitDone;
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   OpsClock& clock) {
    if (args.empty()) {
        err << MainHelp;
        return ExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << MainHelp;
        return ExitDone;
    }
    if (args[0] == "--version") {
        out << "korvcfg " << KORVCFG_VERSION << "\n";
        return ExitDone;
    }
    const Command* command = nullptr;
    for (const Command& c : Commands()) {
        if (args[0] == c.name) {
            command = &c;
        }
    }
    if (command == nullptr) {
        err << "korvcfg: unknown command '" << args[0] << "'\n\n" << MainHelp;
        return ExitUsage;
    }
    try {
        const ParsedArgs parsed = ParseArgs(*command, args);
        if (parsed.help) {
            out << command->help;
            return ExitDone;
        }
        const std::string name = command->name;
        if (name == "scan")
            return Scan(parsed, out, err, clock);
        if (name == "read")
            return Read(parsed, out, err, clock);
        if (name == "write")
            return Write(parsed, out, err, clock);
        if (name == "export")
            return Export(parsed, out, err, clock);
        return Apply(parsed, out, err, clock);
    } catch (const InputError& e) {
        err << "korvcfg " << command->name << ": " << e.what() << "\n(korvcfg " << command->name
            << " --help shows the usage)\n";
        return ExitUsage;
    } catch (const std::exception& e) {
        err << "korvcfg " << command->name << ": " << e.what() << "\n";
        return ExitFailed;
    }
}

} // namespace korvcfg
