#include "trail/seal_chain.h"

#include "trail/epoch_record.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

namespace quorvel::trail {

namespace {

// A seal dated more than this after the end of the collection is from the
// future: clocks that differ by less are not flagged.
constexpr std::uint64_t kClockSlackMillis = 5 * 60 * 1000;

// A seal line read: what the chain walk needs. Its text stays in the file,
// named by a hash that tells copies apart.
struct ParsedSeal {
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    bool end = false;
    int version = 0;
    std::unique_ptr<seal::SessionOpening> opening;
    std::unique_ptr<seal::SealCheckpoint> checkpoint;
    seal::SealMac mac{};
    seal::Bytes32 digest{}; // of the whole seal line, as a ledger names it
    TextSpan text;
    std::size_t signedLength = 0; // the part its MAC covers
    LinePlace place;
};

ParsedSeal parsedFrom(seal::ReadSeal&& read, std::string_view text, const TextSpan& span, LinePlace place) {
    seal::SealRecord& record = read.record;
    ParsedSeal parsed{
        record.index, record.time, record.first, record.tags.size(),     record.end, record.version, nullptr, nullptr,
        read.mac,     {},          span,         read.signedText.size(), place};
    parsed.digest = seal::recordDigest(text);
    if (record.opening) parsed.opening = std::make_unique<seal::SessionOpening>(std::move(*record.opening));
    if (record.checkpoint) parsed.checkpoint = std::make_unique<seal::SealCheckpoint>(*record.checkpoint);
    return parsed;
}

// The distinct seals, by index; of copies, the one read first.
std::vector<ParsedSeal> parseDistinct(const StoredSeals& stored, CollectedFiles& files) {
    std::vector<ParsedSeal> parsed;
    parsed.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::string_view text = files.read(stored.span(i));
        if (auto read = seal::readSeal(text))
            parsed.push_back(parsedFrom(std::move(*read), text, stored.span(i), stored.place(i)));
    }
    std::sort(parsed.begin(), parsed.end(), [](const ParsedSeal& a, const ParsedSeal& b) {
        if (a.index != b.index) return a.index < b.index;
        return a.digest != b.digest ? a.digest < b.digest : a.place < b.place;
    });
    parsed.erase(std::unique(parsed.begin(), parsed.end(),
                             [](const ParsedSeal& a, const ParsedSeal& b) { return a.digest == b.digest; }),
                 parsed.end());
    return parsed;
}

bool macHolds(const seal::Bytes32& macKey, const ParsedSeal& seal, CollectedFiles& files) {
    return seal::sameMac(seal::macOf(macKey, files.read(seal.text).substr(0, seal.signedLength)), seal.mac);
}

// The key `seal` carries (an opening's or a checkpoint's), when it is
// authentic for the auditor: it decrypts, and the seal's MAC holds under it.
bool authenticKey(const ParsedSeal& seal, const seal::EncryptedKey& encrypted, CollectedFiles& files,
                  const AuditorKeys& auditor, seal::SealKey& sealKey) {
    auto key = seal::decryptAsAuditor(encrypted, auditor.publicKey, *auditor.secretKey);
    if (!key) return false;
    sealKey = *key;
    seal::erase(*key);
    seal::SealKeys keys = seal::sealKeysOf(sealKey);
    const bool holds = macHolds(keys.mac, seal, files);
    seal::erase(keys);
    return holds;
}

// Walks `chain`'s keys along the seals from its start on (`key` is the
// start's), keeping those whose MAC holds; `authentic[i]` and `reached[i]`
// note what became of parsed[i].
void walkChain(SealChain& chain, seal::SealKey& key, GuardedKeys& guarded, const std::vector<ParsedSeal>& parsed,
               CollectedFiles& files, const VerifyLimits& limits, std::vector<char>& authentic,
               std::vector<char>& reached, CheckedSeals& checked) {
    chain.seals.reserve(parsed.size());
    std::uint64_t budget = limits.keyStepsPerSeal * parsed.size() + limits.keyStepsFree;
    std::uint64_t keyIndex = chain.opening.index;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const ParsedSeal& record = parsed[i];
        if (record.index < keyIndex) continue;       // before a checkpoint the chain starts at
        if (record.index - keyIndex > budget) break; // sorted: every later one is further still
        budget -= record.index - keyIndex;
        for (; keyIndex < record.index; ++keyIndex) {
            seal::SealKey next = seal::nextSealKey(key);
            key = next;
            seal::erase(next);
        }
        reached[i] = 1;
        seal::SealKeys keys = seal::sealKeysOf(key);
        if (macHolds(keys.mac, record, files)) {
            authentic[i] = 1;
            if (!chain.seals.empty() && chain.seals.back().index == record.index) {
                checked.conflicting.push_back({record.index, record.place, SealFault::Conflicting});
            } else {
                seal::TagKey& tagKey = guarded.newTagKey();
                tagKey = keys.tag;
                chain.seals.push_back(KeptSeal{record.index, record.time, record.first, record.count, record.end,
                                               record.version, record.place, record.text, &tagKey, record.digest});
            }
        }
        seal::erase(keys);
    }
}

} // namespace

CheckedSeals checkSeals(StoredSeals& stored, CollectedFiles& files, const AuditorKeys& auditor,
                        const VerifyLimits& limits, const CheckpointAnchors& anchors, std::uint64_t& openingBudget,
                        GuardedKeys& keys) {
    CheckedSeals checked;
    std::vector<ParsedSeal> parsed = parseDistinct(stored, files);
    checked.sealsRead = parsed.size();
    std::vector<char> authentic(parsed.size(), 0), reached(parsed.size(), 0);
    std::size_t tried = 0;
    // One decryption more, within the session's and the whole run's bounds.
    const auto mayDecrypt = [&] {
        if (tried == limits.openingsPerSession || openingBudget == 0) {
            ++checked.uncheckedOpenings;
            return false;
        }
        ++tried;
        --openingBudget;
        return true;
    };
    for (std::size_t i = 0; i < parsed.size() && parsed[i].index == 0; ++i) {
        if (!parsed[i].opening || !mayDecrypt()) continue;
        seal::SealKey& key = keys.chainKey();
        if (authenticKey(parsed[i], parsed[i].opening->key, files, auditor, key)) {
            SealChain& chain = checked.chains.emplace_back();
            chain.opening = {*parsed[i].opening, parsed[i].time, parsed[i].place, 0};
            walkChain(chain, key, keys, parsed, files, limits, authentic, reached, checked);
        }
        seal::erase(key);
    }
    // Anyone can make a checkpoint (the auditor's key is public): only one
    // whose whole line the host's ledger names is tried.
    for (std::size_t i = 0; checked.chains.empty() && anchors && i < parsed.size(); ++i) {
        const ParsedSeal& seal = parsed[i];
        if (!seal.checkpoint) continue;
        const std::optional<LedgerAnchor> anchor = anchors(seal.digest);
        if (!anchor || anchor->index != seal.index || !mayDecrypt()) continue;
        seal::SealKey& key = keys.chainKey();
        if (authenticKey(seal, seal.checkpoint->key, files, auditor, key)) {
            const seal::SealCheckpoint& at = *seal.checkpoint;
            SealChain& chain = checked.chains.emplace_back();
            chain.opening = {{{}, {}, at.pid, at.lines, at.millis, at.idleMillis, at.key, std::nullopt},
                             seal.time,
                             seal.place,
                             seal.index};
            checked.anchor = anchor;
            walkChain(chain, key, keys, parsed, files, limits, authentic, reached, checked);
        }
        seal::erase(key);
    }
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (checked.chains.empty())
            checked.unopened.emplace_back(parsed[i].place, parsed[i].count);
        else if (parsed[i].index < checked.chains.front().opening.index)
            ++checked.beforeCheckpoint;
        else if (!reached[i])
            ++checked.uncheckedSeals;
        else if (!authentic[i])
            checked.failedMacs.push_back(parsed[i].place);
    }
    stored = StoredSeals();
    return checked;
}

void judgeChain(const SealChain& chain, std::uint64_t at, std::vector<SealFault>& faults, std::vector<SealGap>& gaps) {
    const KeptSeal* previous = nullptr;
    for (const KeptSeal& seal : chain.seals) {
        if (seal.time > at + kClockSlackMillis) faults.push_back({seal.index, seal.place, SealFault::FromTheFuture});
        if (previous == nullptr) { // the opening, which covers no line, or a checkpoint
            if (seal.index == 0 && seal.count != 0 && seal.version >= 2)
                faults.push_back({seal.index, seal.place, SealFault::RangeBreak});
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
