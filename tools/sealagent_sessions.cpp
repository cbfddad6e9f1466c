#include "sealagent_sessions.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

// A report line is well under this; a longer one ends the session's reports.
constexpr std::size_t kMostReportBytes = 256;

} // namespace

LiveSessions::LiveSessions(std::size_t most)
    : most_(std::min(most, kMostSessions)), mostPerUser_(std::max<std::size_t>(most_ / 4, 1)) {}

void LiveSessions::add(FileDescriptor connection, std::uint64_t number, uid_t uid) {
    if (live_.size() >= most_) return;
    live_.push_back({std::move(connection), number, uid, {}, std::nullopt, std::nullopt, std::nullopt, false});
}

std::size_t LiveSessions::heldBy(uid_t uid) const {
    return static_cast<std::size_t>(
        std::count_if(live_.begin(), live_.end(), [uid](const Session& session) { return session.uid == uid; }));
}

void LiveSessions::watch(std::vector<pollfd>& ready) const {
    for (const Session& session : live_)
        ready.push_back({session.connection.get(), POLLIN, 0});
}

void LiveSessions::read(const pollfd* ready) {
    for (std::size_t i = 0; i < live_.size(); ++i)
        if (ready[i].revents != 0) readFrom(live_[i]);
    const auto gone = std::stable_partition(live_.begin(), live_.end(), [](const Session& s) { return !s.gone; });
    for (auto session = gone; session != live_.end(); ++session) {
        keepNamed(*session);
        const bool ended = session->latest && session->latest->end;
        seal::SessionEntry entry{
            session->number, seal::kNoSealIndex, ended ? seal::SessionEvent::Ended : seal::SessionEvent::Vanished, {}};
        if (session->latest) {
            entry.index = session->latest->index;
            entry.seal = session->latest->seal;
        }
        entries_.push_back(entry);
    }
    live_.erase(gone, live_.end());
}

void LiveSessions::readFrom(Session& session) {
    char buffer[4096];
    const ssize_t got = recv(session.connection.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) {
        session.gone = true; // the process closed the connection: it ended or died
        return;
    }
    session.partial.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; !session.gone && (end = session.partial.find('\n')) != std::string::npos;) {
        take(session, std::string_view(session.partial).substr(0, end));
        session.partial.erase(0, end + 1);
    }
    if (session.partial.size() > kMostReportBytes) session.gone = true;
}

// A report, taken when it moves the session on: a later index than the
// latest (a session's seals are reported in order, but by different
// threads); a checkpoint is kept in any order, the epoch's first only.
void LiveSessions::take(Session& session, std::string_view line) {
    const auto report = seal::readSealReport(line);
    if (!report) return;
    if (report->checkpoint && report->index != 0 && !session.checkpointNow) session.checkpointNow = report;
    if (session.latest && report->index <= session.latest->index) return;
    if (report->index == 0) session.openedNow = report->seal;
    session.latest = report;
    session.gone = report->end;
}

// The session's opening and checkpoint, when they were reported in this
// epoch, for the record.
void LiveSessions::keepNamed(Session& session) {
    if (session.openedNow) entries_.push_back({session.number, 0, seal::SessionEvent::Opened, *session.openedNow});
    if (session.checkpointNow)
        entries_.push_back({session.number, session.checkpointNow->index, seal::SessionEvent::Checkpoint,
                            session.checkpointNow->seal});
    session.openedNow.reset();
    session.checkpointNow.reset();
}

std::vector<seal::SessionEntry> LiveSessions::closeEpoch() {
    for (Session& session : live_) {
        keepNamed(session);
        if (session.latest)
            entries_.push_back({session.number, session.latest->index, seal::SessionEvent::Live, session.latest->seal});
    }
    return std::exchange(entries_, {});
}

} // namespace quorvel_tools
