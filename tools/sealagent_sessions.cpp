#include "sealagent_sessions.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

// A report line is well under this; a longer one ends the session's reports.
constexpr std::size_t kMostReportBytes = 256;

} // namespace

void LiveSessions::add(FileDescriptor connection, std::uint64_t number) {
    if (sessions_.size() >= kMostSessions) return;
    sessions_.push_back({std::move(connection), number, {}, std::nullopt, std::nullopt, false});
}

void LiveSessions::watch(std::vector<pollfd>& ready) const {
    for (const Session& session : sessions_)
        if (!session.gone) ready.push_back({session.connection.get(), POLLIN, 0});
}

void LiveSessions::read(const pollfd* ready) {
    for (Session& session : sessions_) {
        if (session.gone) continue;
        if (ready->revents != 0) readFrom(session);
        ++ready;
    }
}

void LiveSessions::readFrom(Session& session) {
    char buffer[4096];
    const ssize_t got = recv(session.connection.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) {
        session.gone = true; // the process closed the connection: it ended or died
        session.connection = FileDescriptor(-1);
        return;
    }
    session.partial.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; !session.gone && (end = session.partial.find('\n')) != std::string::npos;) {
        take(session, std::string_view(session.partial).substr(0, end));
        session.partial.erase(0, end + 1);
    }
    if (session.partial.size() > kMostReportBytes) session.gone = true;
    if (session.gone) session.connection = FileDescriptor(-1);
}

// A report, taken when it moves the session on: a later index than the
// latest (a session's seals are reported in order, but by different threads).
void LiveSessions::take(Session& session, std::string_view line) {
    const auto report = seal::readSealReport(line);
    if (!report || (session.latest && report->index <= session.latest->index)) return;
    if (report->index == 0) session.openedNow = report->seal;
    session.latest = report;
    session.gone = report->end;
}

std::vector<seal::SessionEntry> LiveSessions::closeEpoch() {
    using seal::SessionEvent;
    std::vector<seal::SessionEntry> entries;
    for (Session& session : sessions_) {
        if (session.openedNow) entries.push_back({session.number, 0, SessionEvent::Opened, *session.openedNow});
        session.openedNow.reset();
        seal::SessionEntry entry{session.number, seal::kNoSealIndex, SessionEvent::Live, {}};
        if (session.latest) {
            entry.index = session.latest->index;
            entry.seal = session.latest->seal;
        }
        if (session.gone)
            entry.event = session.latest && session.latest->end ? SessionEvent::Ended : SessionEvent::Vanished;
        if (session.gone || session.latest) entries.push_back(entry);
    }
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(), [](const Session& s) { return s.gone; }),
                    sessions_.end());
    return entries;
}

} // namespace quorvel_tools
