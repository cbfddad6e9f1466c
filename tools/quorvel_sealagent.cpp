// quorvel-sealagent: the host agent of the sealed trail's host ledger.
// `enroll` makes the host's secret seed and id once, hands the seed to the
// auditor only encrypted to the auditor's key, in an enrollment record, and
// prints the record's fingerprint; `run` keeps the host's epoch keys moving
// forward, one epoch at a time, logs a record at the end of each epoch,
// chained to the one before and MACed under that epoch's key before the key
// is erased, and attests the processes that open sealed sessions; `status`
// says where the state stands.
#include "logging/log_emitter.h"
#include "logging/module_properties.h"
#include "sealagent_answer.h"
#include "sealagent_attestations.h"
#include "sealagent_descriptors.h"
#include "sealagent_socket.h"
#include "tool_arguments.h"
#include "tool_error.h"
#include "tool_files.h"
#include "trail/agent_state.h"
#include "trail/epoch_record.h"
#include "trail/guarded_block.h"
#include "trail/seal_settings.h"

#include <poll.h>
#include <sodium.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

constexpr const char* kUsage =
    "usage: quorvel-sealagent enroll --state FILE --auditor-key PUBLIC-KEY-FILE --record FILE\n"
    "                                [--host NAME] [--epoch-millis N] [--properties FILE]\n"
    "       quorvel-sealagent run --state FILE --properties FILE [--socket PATH] [--max-bytes N]\n"
    "       quorvel-sealagent status --state FILE\n"
    "enroll: makes the host's seed and id once, writes the enrollment record to the --record file (for\n"
    "        the auditor) and logs it when --properties is given; prints its fingerprint.\n"
    "run:    moves the host's key on at every epoch's end and logs that epoch's record, chained to the\n"
    "        one before, and attests each process that asks on the socket (/run/quorvel/sealagent.sock),\n"
    "        until SIGTERM, SIGINT or SIGHUP.\n"
    "status: the host id, the epoch reached and the epoch length; no secret.\n"
    "  --epoch-millis N   each epoch's length (60000)\n"
    "  --max-bytes N      the longest record line the path to the collector carries (4096, at least 512)\n";

constexpr std::uint64_t kDefaultEpochMillis = 60000;
// The logger the agent's records go to, and the module its properties see.
const std::string kLedgerLogger = "quorvel.ledger";
const std::string kModule = "quorvel-sealagent";

struct AgentCommand {
    std::string state;
    std::string auditorKey;
    std::string record;
    std::string properties;
    std::string host;
    std::string socket = quorvel::kDefaultAgentSocket;
    std::uint64_t epochMillis = kDefaultEpochMillis;
    std::uint64_t maxBytes = 4096;
};

// The number `value` of option `option`, at least `least`.
std::uint64_t numberFrom(const std::string& option, const std::string& value, std::uint64_t least) {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < least)
        throw ToolError{option + " " + value + ": not a number from " + std::to_string(least) + " on"};
    return number;
}

AgentCommand parseCommand(Arguments args) {
    AgentCommand command;
    while (!args.done()) {
        const std::string arg = args.next();
        if (asksForHelp(arg)) throw HelpAsked{kUsage};
        const std::string& value = args.valueOf(arg);
        if (arg == "--state") {
            command.state = value;
        } else if (arg == "--auditor-key") {
            command.auditorKey = value;
        } else if (arg == "--record") {
            command.record = value;
        } else if (arg == "--properties") {
            command.properties = value;
        } else if (arg == "--host") {
            command.host = value;
        } else if (arg == "--socket") {
            command.socket = value;
        } else if (arg == "--epoch-millis") {
            command.epochMillis = numberFrom(arg, value, 1000);
        } else if (arg == "--max-bytes") {
            command.maxBytes = numberFrom(arg, value, 512);
        } else {
            throw ToolError{"unknown option " + arg + " (see --help)"};
        }
    }
    if (command.state.empty()) throw ToolError{"--state FILE is required (see --help)"};
    return command;
}

std::uint64_t nowMillis() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

void configureLogging(const std::string& properties) {
    log4cxx::helpers::Properties read;
    if (!quorvel::readProperties(log4cxx::File(properties), read)) throw ToolError{"cannot read " + properties};
    quorvel::configureForModule(read, kModule);
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) throw ToolError{"cannot read the host name", 1};
    return name;
}

int enroll(const AgentCommand& command) {
    if (command.auditorKey.empty() || command.record.empty())
        throw ToolError{"enroll needs --auditor-key and --record (see --help)"};
    seal::AuditorPublicKey auditor;
    if (!seal::fromBase64(firstLineOf(command.auditorKey), auditor.data(), auditor.size()))
        throw ToolError{command.auditorKey + ": not an auditor public key (quorvel-verify keygen makes one)"};
    // The state is made once: a host enrolled again would have two ledgers.
    seal::AgentStateFile state(command.state, true);
    seal::AgentIdentity identity;
    randombytes_buf(identity.hostId.data(), identity.hostId.size());
    identity.origin = nowMillis();
    identity.epochMillis = command.epochMillis;
    seal::Enrollment enrollment{
        identity.hostId, command.host.empty() ? hostName() : command.host, identity.origin, identity.epochMillis, {}};
    seal::HostEpochKeys keys;
    {
        // The seed lives in guarded memory until epoch 0's key is made from
        // it and it is encrypted to the auditor; then it is gone.
        auto* seed = static_cast<seal::HostSeed*>(seal::allocateGuardedBlock(sizeof(seal::HostSeed)));
        randombytes_buf(seed->data(), seed->size());
        enrollment.seed = seal::encryptForAuditor(*seed, auditor);
        keys.begin(*seed);
        sodium_free(seed);
    }
    const std::string record = seal::writeEnrollment(enrollment, keys.key());
    try {
        writeNewFile(command.record, record + "\n", 0644);
        state.save(identity, keys, {0, seal::recordDigest(record)});
    } catch (...) {
        // Nothing half made: the host can be enrolled again.
        unlink(command.state.c_str());
        throw;
    }
    if (!command.properties.empty()) {
        configureLogging(command.properties);
        quorvel::emitSealLine(kLedgerLogger, std::string(record));
    }
    std::cout << "host " << enrollment.host << " enrolled\n"
              << "fingerprint " << seal::fingerprintOf(record) << "\n"
              << "hand the auditor " << command.record << " and this fingerprint, on separate ways\n";
    return 0;
}

struct LoadedState {
    seal::AgentIdentity identity;
    seal::AgentProgress progress;
};

LoadedState loadState(seal::AgentStateFile& file, seal::HostEpochKeys& keys, const std::string& path) {
    LoadedState loaded;
    if (!file.load(loaded.identity, keys, loaded.progress))
        throw ToolError{path + " holds no agent state (quorvel-sealagent enroll makes one)", 1};
    return loaded;
}

std::uint64_t epochAt(const seal::AgentIdentity& identity, std::uint64_t millis) {
    return millis < identity.origin ? 0 : (millis - identity.origin) / identity.epochMillis;
}

// The epochs from the one the keys stand at up to `current` have ended: one
// record speaks for them, with what became of the sessions followed, split
// into parts that fit `maxBytes` and each MACed under the last epoch's key;
// then the keys move on to `current` and the state is saved, the records
// logged first so that a crash in between logs them again rather than never.
void closeEpochs(LoadedState& loaded, seal::HostEpochKeys& keys, seal::AgentStateFile& file, LiveSessions& sessions,
                 std::uint64_t current, std::uint64_t maxBytes) {
    seal::EpochRecord whole{loaded.identity.hostId, current - 1, keys.epoch(), {}, 0, false, sessions.closeEpoch()};
    keys.advanceTo(current - 1);
    for (seal::EpochRecord& part : seal::splitEpochRecord(whole, maxBytes)) {
        part.previous = loaded.progress.lastRecord;
        const std::string line = seal::writeEpochRecord(part, keys.key());
        quorvel::emitSealLine(kLedgerLogger, std::string(line));
        loaded.progress.lastRecord = seal::recordDigest(line);
    }
    keys.advanceTo(current);
    file.save(loaded.identity, keys, loaded.progress);
}

// Answers the requests read whole, after the epochs that ended were closed,
// so that each attestation is made under the key of the epoch under way. A
// clock stepped back behind the key's epoch leaves the agent at that later
// epoch (the keys before it are gone): it refuses until the clock is there
// again, since an opening dated before its attestation's epoch would look
// forged, and an attestation of an earlier epoch cannot be made.
void answerWhole(PendingRequests& requests, LoadedState& loaded, const seal::HostEpochKeys& keys,
                 seal::AgentStateFile& file, LiveSessions& sessions) {
    const bool clockBehind = keys.epoch() > epochAt(loaded.identity, nowMillis());
    for (WholeRequest& whole : requests.takeWhole()) {
        if (clockBehind)
            refuse(whole.connection.get(), "the clock is behind the agent's epoch");
        else
            answer(std::move(whole), loaded.identity, keys, loaded.progress, file, sessions);
    }
}

// How long to wait for the stop, a connection, a report or a request's
// bytes: until the epoch under way ends (at most a minute) or the first
// request's time is up.
int waitMillis(const seal::AgentIdentity& identity, const PendingRequests& requests) {
    const std::uint64_t now = nowMillis();
    const std::uint64_t next = identity.origin + (epochAt(identity, now) + 1) * identity.epochMillis;
    const int toEpoch = static_cast<int>(std::min<std::uint64_t>(next - now, 60000));
    const int toRequest = requests.millisToDeadline();
    return toRequest < 0 ? toEpoch : std::min(toEpoch, toRequest);
}

int run(const AgentCommand& command) {
    if (command.properties.empty()) throw ToolError{"run needs --properties (see --help)"};
    seal::AgentStateFile file(command.state, false);
    // One agent per state, for its whole life: two would close the same
    // epochs and give the same session numbers.
    file.holdExclusively();
    seal::HostEpochKeys keys;
    LoadedState loaded = loadState(file, keys, command.state);
    configureLogging(command.properties);
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stop, signal);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int stopped = signalfd(-1, &stop, SFD_CLOEXEC);
    if (stopped < 0) throw ToolError{std::string("cannot wait for signals: ") + std::strerror(errno), 1};
    LiveSessions sessions(followableSessions());
    AgentSocket socket(command.socket);
    PendingRequests requests;
    std::vector<pollfd> ready;
    while (true) {
        // No peer holds this: requests and reports are read as they come.
        const std::uint64_t current = epochAt(loaded.identity, nowMillis());
        if (keys.epoch() < current) closeEpochs(loaded, keys, file, sessions, current, command.maxBytes);
        answerWhole(requests, loaded, keys, file, sessions);
        // While as many requests as it reads at once are pending, the agent
        // takes no connection (the socket is not watched, so no spin).
        ready = {{stopped, POLLIN, 0}, {requests.full() ? -1 : socket.fd(), POLLIN, 0}};
        sessions.watch(ready);
        const std::size_t followed = ready.size() - 2;
        requests.watch(ready);
        if (poll(ready.data(), ready.size(), waitMillis(loaded.identity, requests)) < 0 && errno != EINTR)
            throw ToolError{std::string("cannot wait: ") + std::strerror(errno), 1};
        if (ready[0].revents != 0) return 0;
        sessions.read(ready.data() + 2);
        requests.read(ready.data() + 2 + followed);
        if (ready[1].revents != 0)
            if (std::optional<FileDescriptor> connection = socket.accept())
                requests.add(std::move(*connection), sessions);
    }
}

int status(const AgentCommand& command) {
    seal::AgentStateFile file(command.state, false);
    seal::HostEpochKeys keys;
    const LoadedState loaded = loadState(file, keys, command.state);
    std::cout << "host id " << seal::toBase64(loaded.identity.hostId) << "\n"
              << "epoch " << keys.epoch() << " of " << loaded.identity.epochMillis << " ms (now "
              << epochAt(loaded.identity, nowMillis()) << ")\n";
    return 0;
}

} // namespace

} // namespace quorvel_tools

int main(int argc, char** argv) {
    using namespace quorvel_tools;
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runTool("quorvel-sealagent", [&] {
        if (args.empty()) throw ToolError{"nothing to do (see --help)"};
        if (asksForHelp(args[0])) throw HelpAsked{kUsage};
        if (!quorvel::seal::cryptoReady()) throw ToolError{"libsodium cannot start", 1};
        // No core dump of this process: it holds the host's keys.
        prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
        const AgentCommand command = parseCommand(Arguments({args.begin() + 1, args.end()}));
        try {
            if (args[0] == "enroll") return enroll(command);
            if (args[0] == "run") return run(command);
            if (args[0] == "status") return status(command);
        } catch (const std::runtime_error& error) {
            throw ToolError{error.what(), 1};
        }
        throw ToolError{"unknown command " + args[0] + " (see --help)"};
    });
}
