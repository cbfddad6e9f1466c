#include "trail/seal_chain.h"

#include <sodium.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace quorvel::trail {

namespace {

// A seal dated more than this after the end of the collection is from the
// future: clocks that differ by less are not flagged.
constexpr std::uint64_t kClockSlackMillis = 5 * 60 * 1000;

// A seal line read: what the chain walk needs, its text kept where it was
// read.
struct ParsedSeal {
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    bool end = false;
    int version = 0;
    std::vector<seal::LineTag> tags;
    std::vector<seal::LineLocator> locators;
    std::unique_ptr<seal::SessionOpening> opening;
    seal::SealMac mac{};
    std::string_view text;       // the whole seal
    std::string_view signedText; // what its MAC covers
    LinePlace place;
};

ParsedSeal parsedFrom(seal::ReadSeal&& read, std::string_view text, LinePlace place) {
    seal::SealRecord& record = read.record;
    ParsedSeal parsed{record.index,
                      record.time,
                      record.first,
                      record.end,
                      record.version,
                      std::move(record.tags),
                      std::move(record.locators),
                      nullptr,
                      read.mac,
                      text,
                      read.signedText,
                      place};
    if (record.opening) parsed.opening = std::make_unique<seal::SessionOpening>(std::move(*record.opening));
    return parsed;
}

std::vector<ParsedSeal> parseDistinct(const StoredSeals& stored) {
    std::vector<ParsedSeal> parsed;
    parsed.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        if (auto read = seal::readSeal(stored.text(i)))
            parsed.push_back(parsedFrom(std::move(*read), stored.text(i), stored.place(i)));
    std::sort(parsed.begin(), parsed.end(), [](const ParsedSeal& a, const ParsedSeal& b) {
        return a.index != b.index ? a.index < b.index : a.text < b.text;
    });
    parsed.erase(std::unique(parsed.begin(), parsed.end(),
                             [](const ParsedSeal& a, const ParsedSeal& b) { return a.text == b.text; }),
                 parsed.end());
    return parsed;
}

bool macHolds(const seal::Bytes32& macKey, const ParsedSeal& seal) {
    return seal::sameMac(seal::macOf(macKey, seal.signedText), seal.mac);
}

// The opening's first key when it is authentic for the auditor.
bool authenticOpening(const ParsedSeal& seal, const AuditorKeys& auditor, seal::SealKey& firstKey) {
    if (seal.index != 0 || !seal.opening) return false;
    auto key = seal::decryptAsAuditor(seal.opening->key, auditor.publicKey, *auditor.secretKey);
    if (!key) return false;
    firstKey = *key;
    seal::erase(*key);
    seal::SealKeys keys = seal::sealKeysOf(firstKey);
    const bool holds = macHolds(keys.mac, seal);
    seal::erase(keys);
    return holds;
}

// Walks `chain`'s keys along the seals, keeping those whose MAC holds
// (without their lines' tags and locators, which giveLines() hands over);
// `authentic[i]` and `reached[i]` note what became of parsed[i], `sources`
// which parsed seal each kept one is.
void walkChain(SealChain& chain, seal::SealKey& key, GuardedKeys& guarded, const std::vector<ParsedSeal>& parsed,
               const VerifyLimits& limits, std::vector<char>& authentic, std::vector<char>& reached,
               std::vector<std::size_t>& sources, CheckedSeals& checked) {
    chain.seals.reserve(parsed.size());
    std::uint64_t budget = limits.keyStepsPerSeal * parsed.size() + limits.keyStepsFree;
    std::uint64_t keyIndex = 0;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const ParsedSeal& record = parsed[i];
        if (record.index - keyIndex > budget) break; // sorted: every later one is further still
        budget -= record.index - keyIndex;
        for (; keyIndex < record.index; ++keyIndex) {
            seal::SealKey next = seal::nextSealKey(key);
            key = next;
            seal::erase(next);
        }
        reached[i] = 1;
        seal::SealKeys keys = seal::sealKeysOf(key);
        if (macHolds(keys.mac, record)) {
            authentic[i] = 1;
            if (!chain.seals.empty() && chain.seals.back().index == record.index) {
                checked.conflicting.push_back({record.index, record.place, SealFault::Conflicting});
            } else {
                seal::TagKey& tagKey = guarded.newTagKey();
                tagKey = keys.tag;
                chain.seals.push_back(KeptSeal{record.index,
                                               record.time,
                                               record.first,
                                               record.tags.size(),
                                               record.end,
                                               record.version,
                                               record.place,
                                               &tagKey,
                                               {},
                                               {}});
                sources.push_back(i);
            }
        }
        seal::erase(keys);
    }
}

// Hands each kept seal its lines' tags and locators: moved from the parsed
// seal to the last chain that kept it, copied to any other (two chains keep
// one seal only when two openings share a first key).
void giveLines(std::vector<SealChain>& chains, const std::vector<std::vector<std::size_t>>& sources,
               std::vector<ParsedSeal>& parsed) {
    std::vector<std::size_t> users(parsed.size(), 0);
    for (const auto& chainSources : sources)
        for (const std::size_t source : chainSources)
            ++users[source];
    for (std::size_t c = 0; c < chains.size(); ++c) {
        for (std::size_t k = 0; k < chains[c].seals.size(); ++k) {
            ParsedSeal& from = parsed[sources[c][k]];
            KeptSeal& kept = chains[c].seals[k];
            if (--users[sources[c][k]] == 0) {
                kept.tags = std::move(from.tags);
                kept.locators = std::move(from.locators);
            } else {
                kept.tags = from.tags;
                kept.locators = from.locators;
            }
        }
    }
}

} // namespace

CheckedSeals checkSeals(StoredSeals& stored, const AuditorKeys& auditor, const VerifyLimits& limits,
                        std::uint64_t& openingBudget, GuardedKeys& keys) {
    CheckedSeals checked;
    std::vector<ParsedSeal> parsed = parseDistinct(stored);
    std::vector<std::vector<std::size_t>> sources;
    checked.sealsRead = parsed.size();
    std::vector<char> authentic(parsed.size(), 0), reached(parsed.size(), 0);
    std::size_t openingsTried = 0;
    for (std::size_t i = 0; i < parsed.size() && parsed[i].index == 0; ++i) {
        if (!parsed[i].opening) continue;
        if (openingsTried == limits.openingsPerSession || openingBudget == 0) {
            ++checked.uncheckedOpenings;
            continue;
        }
        ++openingsTried;
        --openingBudget;
        seal::SealKey& key = keys.chainKey();
        if (authenticOpening(parsed[i], auditor, key)) {
            SealChain& chain = checked.chains.emplace_back();
            chain.opening = {*parsed[i].opening, parsed[i].time, parsed[i].place};
            walkChain(chain, key, keys, parsed, limits, authentic, reached, sources.emplace_back(), checked);
        }
        seal::erase(key);
    }
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (checked.chains.empty())
            checked.unopened.emplace_back(parsed[i].place, parsed[i].tags.size());
        else if (!reached[i])
            ++checked.uncheckedSeals;
        else if (!authentic[i])
            checked.failedMacs.push_back(parsed[i].place);
    }
    giveLines(checked.chains, sources, parsed);
    stored = StoredSeals();
    return checked;
}

void judgeChain(const SealChain& chain, std::uint64_t at, std::vector<SealFault>& faults, std::vector<SealGap>& gaps) {
    const KeptSeal* previous = nullptr;
    for (const KeptSeal& seal : chain.seals) {
        if (seal.time > at + kClockSlackMillis) faults.push_back({seal.index, seal.place, SealFault::FromTheFuture});
        if (previous == nullptr) { // the opening, which starts every chain and covers no line
            if (seal.count != 0 && seal.version >= 2) faults.push_back({seal.index, seal.place, SealFault::RangeBreak});
            previous = &seal;
            continue;
        }
        if (seal.time < previous->time) faults.push_back({seal.index, seal.place, SealFault::TimeBack});
        const std::uint64_t expected = previous->first + previous->count;
        if (seal.index == previous->index + 1) {
            if (seal.first != expected) faults.push_back({seal.index, seal.place, SealFault::RangeBreak});
        } else if (seal.first < expected) {
            faults.push_back({seal.index, seal.place, SealFault::RangeBreak});
            gaps.push_back({{previous->index + 1, seal.index - 1}, std::nullopt, 0});
        } else {
            gaps.push_back(
                {{previous->index + 1, seal.index - 1},
                 seal.first > expected ? std::optional<NumberRange>({expected, seal.first - 1}) : std::nullopt,
                 0});
        }
        previous = &seal;
    }
}

} // namespace quorvel::trail
