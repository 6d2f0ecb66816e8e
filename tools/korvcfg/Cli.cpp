// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Cli.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/ApplyTable.h"
#include "tools/korvcfg/DeviceSession.h"
#include "tools/korvcfg/JsonOutput.h"
#include "tools/korvcfg/Values.h"

#include "net/IdComponent.h"
#include "net/IdStack.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace korvcfg {

namespace {

const char MainDescription[] =
    R"(Finds, reads and configures the serial-to-Ethernet devices on this segment, as the configuration
window does: one UDP broadcast to port 60000, answers on UDP port 60001 (so the window must not be
running at the same time).)";

const char MainFooter[] = R"(  korvcfg COMMAND --help   describes a command, with an example
  korvcfg --version

Every request leaves through every network adapter that can carry a broadcast, once for each IPv4
network (two adapters on one network send one copy); each command takes
--interface NAME to send through that one adapter only (an unknown NAME lists the adapters and
ends with status 2, before port 60001 is bound). A router passes no broadcast on: for devices
behind one, --to TARGETS sends every request by unicast instead, the scan to each target address
(korvcfg scan --to 10.79.0.0/24), every later request to where its device answered.

exit status: 0 done, 1 a device was not found, did not answer or did not acknowledge (or port 60001
is in use), 2 the command line or the file was wrong (then nothing was sent).)";

const char ScanDetails[] =
    R"(Broadcasts one scan request and lists every device that answers within the wait, one line per
device (IP address, MAC), in the order they answered. Two devices answering from one address are
both listed, with a warning naming the address.

examples:
  korvcfg scan --wait 3000 --json
  korvcfg scan --to 10.79.0.0/24        (devices behind a router))";

const char ReadDetails[] =
    R"(Finds the device by a scan and reads its configuration: one "key: value" line per field.

example:
  korvcfg read 00-4C-5A-1E-0B-21 --json)";

const char WriteDetails[] =
    R"(Reads the device's configuration, replaces the values given, and writes it back in eight steps
(device IP, subnet mask, network mode, remote IP, gateway, local port, baud rate, commit), each sent
up to ten times until the device acknowledges it. Progress goes to standard error, one line per
acknowledged step. The device takes the new values on the commit; restart it then, as the
success line says.

example:
  korvcfg write 00-4C-5A-1E-0B-21 --ip 192.168.1.50 --gateway 192.168.1.1 --baud 115200 --verify)";

const char ApplyDetails[] =
    R"(Configures many devices from a table: one scan finds them all, then each is read, written (and with
--verify read back), going on after a device fails. One result line per device, in the table's
order, then a summary; with --json one array of {"mac": ..., "ok": true|false, "error": ...}.
Devices that answer from one address are configured one after another even with --parallel, since
their acknowledgements cannot be told apart.

FILE is CSV or JSON, told apart by its content. CSV: the header
    mac,ip,mask,gateway,remote_ip,port,mode,baud
then one device per line; an empty cell keeps that device's value. JSON: an array of objects with
the same keys ("port" and "baud" as numbers); a key that is missing or null keeps the value.

example:
  korvcfg apply site-4.csv --verify
  with site-4.csv:
    mac,ip,mask,gateway,remote_ip,port,mode,baud
    00-4C-5A-1E-0B-21,192.168.4.11,255.255.255.0,192.168.4.1,192.168.4.2,4001,tcp-server,9600
    00-4C-5A-1E-0B-22,192.168.4.12,,,,,,115200)";

const char ExportDetails[] =
    R"(Scans once and reads every device that answers, printing the table that apply takes: CSV with the
header mac,ip,mask,gateway,remote_ip,port,mode,baud, or with --json an array of the objects that
read --json prints. A device that does not answer its read is named on standard error and left out
(exit status 1). A mode or speed code that korvcfg has no name for is left empty (null), which apply
takes as "keep the device's value".

example:
  korvcfg export > site.csv
  (edit site.csv)
  korvcfg apply site.csv --verify)";

const char MacHelp[] = "as the window lists it (00-4C-5A-1E-0B-21); colons and lower case are accepted too";
const char WaitHelp[] = "how long to collect answers, in milliseconds (default 1500)";
const char InterfaceHelp[] = "send through this network adapter only (default: every adapter)";
const char ToHelp[] = "devices behind a router, which no broadcast reaches: send the scan by unicast to\n"
                      "each of these instead (A.B.C.D, a block A.B.C.D/N from /20 to /32, or a range\n"
                      "A.B.C.D-A.B.C.D; comma-separated, the option may repeat; 4096 addresses at most),\n"
                      "and every later request to the address its device answered from";
const char VerifyHelp[] = "after the commit, find the device again, read its configuration record back and\n"
                          "compare every field of it with what was written";

// What the command line said, as text: every value is checked by the command that takes it, in
// korvcfg's own words, before anything is sent.
struct Request {
    CLI::App* command = nullptr;
    std::string target; // MAC or FILE
    std::string wait, interface, parallel;
    std::vector<std::string> to;
    std::array<std::string, ConfigFields.size()> fields;
    bool json = false;
    bool verify = false;
    std::vector<CLI::Option*> valued; // options that take a value, each at most once

    std::optional<std::string> Given(const std::string& option, const std::string& value) const {
        return command->count(option) > 0 ? std::optional(value) : std::nullopt;
    }
    uint32_t WaitMs() const {
        const auto text = Given("--wait", wait);
        return text ? ParseWaitMs(*text) : ScanWaitMs;
    }
};

std::string FieldHelp(const ConfigField& field) {
    switch (field.kind) {
    case FieldKind::Address:
        for (const WriteStepInfo& step : WriteSequence) {
            if (step.code == field.step) {
                return std::string(step.name) + ", four numbers from 0 to 255";
            }
        }
        break;
    case FieldKind::Port:
        return "local port, 0 to 65535";
    case FieldKind::Mode: {
        std::string names;
        for (std::size_t i = 0; i < ModeRows.size(); ++i) {
            names += (i == 0 ? "" : i + 1 == ModeRows.size() ? " or " : ", ") + std::string(ModeRows[i].name);
        }
        return names;
    }
    case FieldKind::Speed: {
        std::string bauds;
        for (std::size_t i = 0; i < SpeedRows.size(); ++i) {
            bauds += (i == 0                      ? ""
                      : i + 1 == SpeedRows.size() ? " or "
                                                  : ", ") +
                     std::to_string(SpeedRows[i].baud);
        }
        return bauds;
    }
    }
    return "";
}

const char* FieldTypeName(const ConfigField& field) {
    switch (field.kind) {
    case FieldKind::Address:
        return "A.B.C.D";
    case FieldKind::Mode:
        return "MODE";
    default:
        return "N";
    }
}

// The command line: one subcommand per command, each option as korvcfg's help names it.
std::unique_ptr<CLI::App> CommandLine(Request& r) {
    auto app = std::make_unique<CLI::App>(MainDescription, "korvcfg");
    app->footer(MainFooter);
    app->set_version_flag("--version", std::string("korvcfg ") + KORVCFG_VERSION);
    app->require_subcommand(1);
    const auto valued = [&r](CLI::Option* option, const char* type) {
        r.valued.push_back(option->type_name(type)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
    };
    const auto command = [&](const char* name, const char* summary, const char* details) {
        CLI::App* sub = app->add_subcommand(name, summary);
        sub->footer(details);
        // korvcfg names what it does not know itself (see Unexpected), before anything is sent.
        sub->allow_extras();
        return sub;
    };
    const auto positional = [&](CLI::App* sub, const char* name, const char* help) {
        sub->add_option(name, r.target, help)->required()->type_name("");
    };
    const auto waitOption = [&](CLI::App* sub, const char* help) {
        valued(sub->add_option("--wait", r.wait, help), "MS");
    };
    const auto jsonFlag = [&](CLI::App* sub, const char* help) { sub->add_flag("--json", r.json, help); };
    const auto interfaceOption = [&](CLI::App* sub) {
        valued(sub->add_option("--interface", r.interface, InterfaceHelp), "NAME");
        sub->add_option("--to", r.to, ToHelp)
            ->type_name("TARGETS")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    };

    CLI::App* scan = command("scan", "list the devices that answer", ScanDetails);
    waitOption(scan, WaitHelp);
    jsonFlag(scan, "print one JSON array of {\"ip\": ..., \"mac\": ...}");
    interfaceOption(scan);

    CLI::App* read = command("read", "show one device's configuration", ReadDetails);
    positional(read, "MAC", MacHelp);
    waitOption(read, "how long the scan collects answers, in milliseconds (default 1500)");
    jsonFlag(read, "print one JSON object with mac, ip, mask, gateway, remote_ip, port, mode, baud\n"
                   "(mode and baud are null when the device reports a code korvcfg has no name for)");
    interfaceOption(read);

    CLI::App* write = command("write", "change one device's configuration", WriteDetails);
    positional(write, "MAC", MacHelp);
    for (std::size_t i = 0; i < ConfigFields.size(); ++i) {
        valued(write->add_option(WriteOption(ConfigFields[i]), r.fields[i], FieldHelp(ConfigFields[i])),
               FieldTypeName(ConfigFields[i]));
    }
    write->add_flag("--verify", r.verify, VerifyHelp);
    interfaceOption(write);

    CLI::App* apply = command("apply", "configure many devices from a CSV or JSON file", ApplyDetails);
    positional(apply, "FILE", "the table: CSV or JSON, see below");
    apply->add_flag("--verify", r.verify, "read every device back after its commit, as write --verify does");
    valued(apply->add_option("--parallel", r.parallel,
                             "configure up to N devices at once (default 1: one after another)"),
           "N");
    jsonFlag(apply, "print one JSON array of the results");
    interfaceOption(apply);

    CLI::App* exportCommand =
        command("export", "read every device that answers, as a table that apply takes", ExportDetails);
    waitOption(exportCommand, "how long the scan collects answers, in milliseconds (default 1500)");
    jsonFlag(exportCommand, "print JSON instead of CSV");
    interfaceOption(exportCommand);
    return app;
}

// What CLI11 left over: an option the command does not take, or one argument too many.
void Unexpected(const Request& r) {
    const std::vector<std::string> rest = r.command->remaining();
    if (rest.empty()) {
        return;
    }
    if (rest.front().rfind("-", 0) == 0 && rest.front() != "-") {
        throw InputError("unknown option " + rest.front() + " for " + r.command->get_name());
    }
    throw InputError("unexpected argument '" + rest.front() + "'");
}

// CLI11's objections, in the words korvcfg's messages have always used.
InputError Objection(const CLI::ParseError& e, const std::string& command) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
        const auto is = what.find(" is required");
        if (is != std::string::npos) {
            return InputError(command + " needs " + what.substr(0, is));
        }
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr &&
        what.find(" missing") != std::string::npos) {
        return InputError(what.substr(0, what.find(':')) + " needs a value");
    }
    return InputError(what);
}

// Opens the session on the adapter --interface names (every adapter without it). An unknown name
// ends the command as a wrong command line does, listing the adapters, before port 60001 is bound:
// a wrong name is reported as such even while another program holds the port.
void Open(DeviceSession& session, const Request& r) {
    session.Targets = r.to.empty() ? std::vector<std::string>() : ParseTargets(r.to);
    const auto name = r.Given("--interface", r.interface);
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

Json ConfigJson(const std::string& mac, const DeviceConfig& config) {
    Json object;
    object["mac"] = mac;
    for (const ConfigField& field : ConfigFields) {
        const std::string shown = Shown(field, config);
        if (!Known(field, config)) {
            object[field.key] = nullptr;
        } else if (IsNumber(field)) {
            object[field.key] = std::stol(shown);
        } else {
            object[field.key] = shown;
        }
    }
    return object;
}

void PrintSettings(std::ostream& out, const std::string& mac, const DeviceConfig& config, bool json) {
    if (json) {
        out << OneLine(ConfigJson(mac, config)) << "\n";
        return;
    }
    out << "mac: " << mac << "\n";
    for (const ConfigField& field : ConfigFields) {
        const std::string shown = Shown(field, config);
        out << field.key << ": " << (Known(field, config) ? shown : "unknown (" + shown + ")") << "\n";
    }
}

int Scan(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const uint32_t waitMs = r.WaitMs();
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (r.json) {
        std::vector<Json> items;
        for (const FoundDevice& device : found) {
            items.push_back({{"ip", device.ip}, {"mac", device.mac}});
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

int Read(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string mac = ParseMac(r.target);
    const uint32_t waitMs = r.WaitMs();
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const FoundDevice device = Locate(session.Scan(waitMs), mac, waitMs);
    PrintSettings(out, device.mac, session.Read(device), r.json);
    return ExitDone;
}

int Write(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string mac = ParseMac(r.target);
    SettingsChange change;
    for (std::size_t i = 0; i < ConfigFields.size(); ++i) {
        const std::string option = WriteOption(ConfigFields[i]);
        if (const auto text = r.Given(option, r.fields[i])) {
            change[ConfigFields[i]] = ParseField(ConfigFields[i], *text, option);
        }
    }
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const FoundDevice device = Locate(session.Scan(ScanWaitMs), mac, ScanWaitMs);
    const DeviceConfig target = Merged(session.Read(device), change);
    session.Write(device, target);
    if (r.verify) {
        session.Verify(device, target, ScanWaitMs);
    }
    // As the window says after its commit: the device runs on what it took once it has restarted.
    out << device.mac << " configured" << (r.verify ? " and verified" : "")
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

int Apply(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string& path = r.target;
    const auto parallelText = r.Given("--parallel", r.parallel);
    const std::size_t parallel = parallelText ? ParseParallel(*parallelText) : 1;
    std::vector<ApplyRow> rows;
    try {
        rows = ParseApplyTable(ReadWholeFile(path));
    } catch (const InputError& e) {
        const std::string what = e.what();
        throw InputError(what.rfind(path, 0) == 0 ? what : path + ": " + what);
    }
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<ApplyResult> results = ApplyTable(session, rows, r.verify, parallel);
    std::size_t failed = 0;
    std::vector<Json> items;
    for (const ApplyResult& result : results) {
        failed += result.ok ? 0 : 1;
        if (r.json) {
            items.push_back(
                {{"mac", result.mac}, {"ok", result.ok}, {"error", result.ok ? Json() : Json(result.error)}});
        } else {
            out << result.mac << "  " << (result.ok ? "ok" : "FAILED: " + result.error) << "\n";
        }
    }
    if (r.json) {
        out << JsonArray(items);
    }
    // With --json the summary stays off standard output, which holds the one JSON document.
    std::ostream& summary = r.json ? err : out;
    summary << results.size() << " device" << (results.size() == 1 ? "" : "s") << ": "
            << results.size() - failed << " configured, " << failed << " failed\n";
    return failed == 0 ? ExitDone : ExitFailed;
}

int Export(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const uint32_t waitMs = r.WaitMs();
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (found.empty()) {
        err << "korvcfg: no device answered within " << waitMs << " ms\n";
    }
    std::vector<Json> items;
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
            csv += "," + (Known(field, config) ? Shown(field, config) : std::string());
        }
        csv += "\n";
    }
    out << (r.json ? JsonArray(items) : csv);
    return missed ? ExitFailed : ExitDone;
}

using CommandRun = int (*)(const Request&, std::ostream&, std::ostream&, OpsClock&);
const std::pair<const char*, CommandRun> Runs[] = {
    {"scan", Scan}, {"read", Read}, {"write", Write}, {"apply", Apply}, {"export", Export},
};

} // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   OpsClock& clock) {
    Request r;
    const std::unique_ptr<CLI::App> app = CommandLine(r);
    if (args.empty()) {
        err << app->help();
        return ExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << app->help();
        return ExitDone;
    }
    const auto run = std::find_if(std::begin(Runs), std::end(Runs),
                                  [&](const auto& entry) { return args[0] == entry.first; });
    if (run == std::end(Runs) && args[0] != "--version") {
        err << "korvcfg: unknown command '" << args[0] << "'\n\n" << app->help();
        return ExitUsage;
    }
    const std::string name = args[0];
    try {
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them from the back
            app->parse(reversed);
        } catch (const CLI::CallForHelp&) {
            out << app->help(); // the chosen command's, under its full name
            return ExitDone;
        } catch (const CLI::CallForVersion& e) {
            out << e.what() << "\n";
            return ExitDone;
        } catch (const CLI::ParseError& e) {
            throw Objection(e, name);
        }
        r.command = app->get_subcommand(name);
        Unexpected(r);
        for (const CLI::Option* option : r.valued) {
            if (option->count() > 1) {
                throw InputError(option->get_name() + " is given twice");
            }
        }
        return run->second(r, out, err, clock);
    } catch (const InputError& e) {
        err << "korvcfg " << name << ": " << e.what() << "\n(korvcfg " << name
            << " --help shows the usage)\n";
        return ExitUsage;
    } catch (const std::exception& e) {
        err << "korvcfg " << name << ": " << e.what() << "\n";
        return ExitFailed;
    }
}

} // namespace korvcfg
