// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Cli.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/Values.h"

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
success line says. A new device IP that another device holds (where it answered the scan from, or
as its record says), or that is this workstation's own, is refused before anything is sent
(status 1); --force writes it all the same. --dry-run shows the change and writes nothing.

examples:
  korvcfg write 00-4C-5A-1E-0B-21 --ip 192.168.1.50 --gateway 192.168.1.1 --baud 115200 --verify
  korvcfg write 00-4C-5A-1E-0B-21 --ip 192.168.1.50 --dry-run
    00-4C-5A-1E-0B-21
      ip: 10.77.1.11 -> 192.168.1.50)";

const char ApplyDetails[] =
    R"(Configures many devices from a table: one scan finds them all, then each is read, written (and with
--verify read back), going on after a device fails. One result line per device, in the table's
order, then a summary; with --json one array of {"mac": ..., "ok": true|false, "error": ...}.
Devices that answer from one address are configured one after another even with --parallel, since
their acknowledgements cannot be told apart. A device whose new IP another holds, or another row
gives too, is refused before anything is sent to it (the others go on); --force writes it all the
same. --dry-run reads every device and prints what would change, writing nothing.

FILE is CSV or JSON, told apart by its content. CSV: the header
    mac,ip,mask,gateway,remote_ip,port,mode,baud
then one device per line; an empty cell keeps that device's value. JSON: an array of objects with
the same keys ("port" and "baud" as numbers); a key that is missing or null keeps the value.

examples:
  korvcfg apply site-4.csv --dry-run
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

const char AssignDetails[] =
    R"(Gives a batch of devices consecutive addresses, as when commissioning factory-fresh ones: one
scan; the devices that answered (with --only, those named, each of which must answer), taken in MAC
order, the order on their labels. Each gets the next address from FIRST_IP upward that no other
answering device holds (where it answered the scan from, or as its record says) and this workstation
does not; the mask and gateway are written when given, every other field keeps its value. The plan
(MAC, old IP -> new IP) is printed before anything is written, then one result line per device and
a summary. A batch that does not fit inside FIRST_IP's network under the mask it will have, short of
the broadcast address, ends with status 2 before anything is written.

examples:
  korvcfg assign 10.77.0.60 --mask 255.255.255.0 --gateway 10.77.0.1 --verify
  korvcfg assign 10.77.0.60 --only 00-4C-5A-1E-0B-21,00-4C-5A-1E-0B-22 --dry-run)";

const char MacHelp[] = "as the window lists it (00-4C-5A-1E-0B-21); colons and lower case are accepted too";
const char WaitHelp[] = "how long to collect answers, in milliseconds (default 1500)";
const char InterfaceHelp[] = "send through this network adapter only (default: every adapter)";
const char ToHelp[] = "devices behind a router, which no broadcast reaches: send the scan by unicast to\n"
                      "each of these instead (A.B.C.D, a block A.B.C.D/N from /20 to /32, or a range\n"
                      "A.B.C.D-A.B.C.D; comma-separated, the option may repeat; 4096 addresses at most),\n"
                      "and every later request to the address its device answered from";
const char VerifyHelp[] = "after the commit, find the device again, read its configuration record back and\n"
                          "compare every field of it with what was written";

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
std::unique_ptr<CLI::App> CommandLine(Request& r, std::vector<CLI::Option*>& valuedOptions) {
    auto app = std::make_unique<CLI::App>(MainDescription, "korvcfg");
    app->footer(MainFooter);
    app->set_version_flag("--version", std::string("korvcfg ") + KORVCFG_VERSION);
    app->require_subcommand(1);
    // A path such as /tmp/site.csv is a file, not an option, on Windows too (the subcommands take
    // this from the program when they are added).
    app->allow_windows_style_options(false);
    const auto valued = [&](CLI::Option* option, const char* type) {
        valuedOptions.push_back(
            option->type_name(type)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
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
    const auto dryRunFlag = [&](CLI::App* sub, const char* help =
                                                   "read the devices and print each field that would change, "
                                                   "old -> new; write nothing") {
        sub->add_flag("--dry-run", r.dryRun, help);
    };
    const auto forceFlag = [&](CLI::App* sub) {
        sub->add_flag("--force", r.force,
                      "write a device IP even when another device or this workstation holds it");
    };
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
    dryRunFlag(write);
    forceFlag(write);
    jsonFlag(write, "print one JSON object: {\"mac\": ..., \"ok\": true|false, \"error\": ...}, or with\n"
                    "--dry-run {\"mac\": ..., \"changes\": {FIELD: [OLD, NEW], ...}}");
    interfaceOption(write);

    CLI::App* apply = command("apply", "configure many devices from a CSV or JSON file", ApplyDetails);
    positional(apply, "FILE", "the table: CSV or JSON, see below");
    apply->add_flag("--verify", r.verify, "read every device back after its commit, as write --verify does");
    valued(apply->add_option("--parallel", r.parallel,
                             "configure up to N devices at once (default 1: one after another)"),
           "N");
    dryRunFlag(apply);
    forceFlag(apply);
    jsonFlag(apply, "print one JSON array of the results (with --dry-run, of the changes)");
    interfaceOption(apply);

    CLI::App* exportCommand =
        command("export", "read every device that answers, as a table that apply takes", ExportDetails);
    waitOption(exportCommand, "how long the scan collects answers, in milliseconds (default 1500)");
    jsonFlag(exportCommand, "print JSON instead of CSV");
    interfaceOption(exportCommand);

    CLI::App* assign = command("assign", "give devices consecutive addresses", AssignDetails);
    positional(assign, "FIRST_IP", "the first address of the batch");
    valued(assign->add_option("--only", r.only,
                              "these devices only, MAC,MAC,... (default: every one that answers)"),
           "MACS");
    for (const char* key : {"mask", "gateway"}) {
        const ConfigField& field = Field(key);
        const auto i = static_cast<std::size_t>(&field - ConfigFields.data());
        valued(assign->add_option(WriteOption(field), r.fields[i],
                                  FieldHelp(field) + " (default: keep each one's)"),
               FieldTypeName(field));
    }
    assign->add_flag("--verify", r.verify, "read every device back after its commit, as write --verify does");
    valued(assign->add_option("--parallel", r.parallel,
                              "configure up to N devices at once (default 1: one after another)"),
           "N");
    dryRunFlag(assign, "print the plan only; write nothing");
    jsonFlag(assign, "print one JSON array of {\"mac\": ..., \"old_ip\": ..., \"new_ip\": ..., \"ok\": ...,\n"
                     "\"error\": ...} (with --dry-run, of the plan); the plan then goes to standard error");
    interfaceOption(assign);
    return app;
}

// What CLI11 left over: an option the command does not take, or one argument too many.
void Unexpected(const CLI::App& command) {
    const std::vector<std::string> rest = command.remaining();
    if (rest.empty()) {
        return;
    }
    if (rest.front().rfind("-", 0) == 0 && rest.front() != "-") {
        throw InputError("unknown option " + rest.front() + " for " + command.get_name());
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

const std::pair<const char*, Command> Runs[] = {
    {"scan", Scan},   {"read", Read},     {"write", Write},
    {"apply", Apply}, {"export", Export}, {"assign", Assign},
};

} // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   OpsClock& clock) {
    Request r;
    std::vector<CLI::Option*> valued;
    const std::unique_ptr<CLI::App> app = CommandLine(r, valued);
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
        const CLI::App* command = app->get_subcommand(name);
        Unexpected(*command);
        for (const CLI::Option* option : valued) {
            if (option->count() > 1) {
                throw InputError(option->get_name() + " is given twice");
            }
            if (option->count() == 1) {
                r.given.insert(option->get_name());
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
