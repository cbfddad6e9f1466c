#include "trail/seal_chain.h"

#include <sodium.h>

#include <algorithm>
#include <new>
#include <optional>

namespace quorvel::trail {

namespace {

// A seal dated more than this after the end of the collection is from the
// future: clocks that differ by less are not flagged.
constexpr std::uint64_t kClockSlackMillis = 5 * 60 * 1000;

struct ParsedSeal {
    seal::ReadSeal read;
    const StoredSeal* stored;
};

std::vector<ParsedSeal> parseDistinct(const std::vector<StoredSeal>& stored) {
    std::vector<ParsedSeal> parsed;
    parsed.reserve(stored.size());
    for (const StoredSeal& seal : stored)
        if (auto read = seal::readSeal(seal.text)) parsed.push_back({std::move(*read), &seal});
    std::sort(parsed.begin(), parsed.end(), [](const ParsedSeal& a, const ParsedSeal& b) {
        return a.read.record.index != b.read.record.index ? a.read.record.index < b.read.record.index
                                                          : a.stored->text < b.stored->text;
    });
    parsed.erase(std::unique(parsed.begin(), parsed.end(),
                             [](const ParsedSeal& a, const ParsedSeal& b) { return a.stored->text == b.stored->text; }),
                 parsed.end());
    return parsed;
}

bool macHolds(const seal::Bytes32& macKey, const seal::ReadSeal& read) {
    return seal::sameMac(seal::macOf(macKey, read.signedText), read.mac);
}

// The opening's first key when it is authentic for the auditor.
bool authenticOpening(const ParsedSeal& seal, const AuditorKeys& auditor, seal::SealKey& firstKey) {
    const seal::SealRecord& record = seal.read.record;
    if (record.index != 0 || !record.opening) return false;
    auto key = seal::decryptAsAuditor(record.opening->key, auditor.publicKey, *auditor.secretKey);
    if (!key) return false;
    firstKey = *key;
    seal::erase(*key);
    seal::SealKeys keys = seal::sealKeysOf(firstKey);
    const bool holds = macHolds(keys.mac, seal.read);
    seal::erase(keys);
    return holds;
}

KeptSeal keptFrom(const ParsedSeal& seal) {
    const seal::SealRecord& record = seal.read.record;
    return KeptSeal{record.index,   record.time,        record.first, record.tags.size(), record.end,
                    record.version, seal.stored->place, nullptr,      record.tags,        record.locators};
}

// Walks `chain`'s keys along the seals, keeping those whose MAC holds;
// `authentic[i]` and `reached[i]` note what became of parsed[i].
void walkChain(SealChain& chain, seal::SealKey& key, GuardedKeys& guarded, const std::vector<ParsedSeal>& parsed,
               const VerifyLimits& limits, std::vector<char>& authentic, std::vector<char>& reached,
               CheckedSeals& checked) {
    std::uint64_t budget = limits.keyStepsPerSeal * parsed.size() + limits.keyStepsFree;
    std::uint64_t keyIndex = 0;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const seal::SealRecord& record = parsed[i].read.record;
        if (record.index - keyIndex > budget) break; // sorted: every later one is further still
        budget -= record.index - keyIndex;
        for (; keyIndex < record.index; ++keyIndex) {
            seal::SealKey next = seal::nextSealKey(key);
            key = next;
            seal::erase(next);
        }
        reached[i] = 1;
        seal::SealKeys keys = seal::sealKeysOf(key);
        if (macHolds(keys.mac, parsed[i].read)) {
            authentic[i] = 1;
            if (!chain.seals.empty() && chain.seals.back().index == record.index) {
                checked.conflicting.push_back({record.index, parsed[i].stored->place, SealFault::Conflicting});
            } else {
                seal::TagKey& tagKey = guarded.newTagKey();
                tagKey = keys.tag;
                chain.seals.push_back(keptFrom(parsed[i]));
                chain.seals.back().tagKey = &tagKey;
            }
        }
        seal::erase(keys);
    }
}

} // namespace

CheckedSeals checkSeals(std::vector<StoredSeal>& stored, const AuditorKeys& auditor, const VerifyLimits& limits,
                        std::uint64_t& openingBudget, GuardedKeys& keys) {
    CheckedSeals checked;
    const std::vector<ParsedSeal> parsed = parseDistinct(stored);
    checked.sealsRead = parsed.size();
    std::vector<char> authentic(parsed.size(), 0), reached(parsed.size(), 0);
    std::size_t openingsTried = 0;
    for (std::size_t i = 0; i < parsed.size() && parsed[i].read.record.index == 0; ++i) {
        if (!parsed[i].read.record.opening) continue;
        if (openingsTried == limits.openingsPerSession || openingBudget == 0) {
            ++checked.uncheckedOpenings;
            continue;
        }
        ++openingsTried;
        --openingBudget;
        seal::SealKey& key = keys.chainKey();
        if (authenticOpening(parsed[i], auditor, key)) {
            SealChain& chain = checked.chains.emplace_back();
            chain.opening = {*parsed[i].read.record.opening, parsed[i].read.record.time, parsed[i].stored->place};
            walkChain(chain, key, keys, parsed, limits, authentic, reached, checked);
        }
        seal::erase(key);
    }
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (checked.chains.empty())
            checked.unopened.emplace_back(parsed[i].stored->place, parsed[i].read.record.tags.size());
        else if (!reached[i])
            ++checked.uncheckedSeals;
        else if (!authentic[i])
            checked.failedMacs.push_back(parsed[i].stored->place);
    }
    std::vector<StoredSeal>().swap(stored);
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
