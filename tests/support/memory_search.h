// Secrets sought in a process's memory or in a file without the search
// itself holding them: each is kept as two random-looking halves whose XOR
// is the secret, and unmasked byte by byte as memory is compared.
#pragma once

#include "file_text.h"
#include "trail/seal_keys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel_test {

// A secret sought in memory, held as two random-looking halves whose XOR is
// the secret: the memory searched holds no key through the search itself.
struct Sought {
    unsigned char masked[32];
    unsigned char mask[32];
    std::uint8_t size;
    bool control;        // the key with every byte XORed with kFlip: must be found
    std::uint32_t index; // the key's seal or epoch
    char what;           // a letter that names the kind of key
};
constexpr unsigned char kFlip = 0x5a;

// Adds `secret` (with every byte XORed with kFlip when it is a control).
inline void addSought(std::vector<Sought>& sought, const unsigned char* secret, std::size_t size, std::uint32_t index,
                      char what, bool control = false) {
    Sought s{{}, {}, static_cast<std::uint8_t>(size), control, index, what};
    quorvel::seal::randomSealKey(*reinterpret_cast<quorvel::seal::SealKey*>(s.mask));
    for (std::size_t i = 0; i < size; ++i)
        s.masked[i] = secret[i] ^ (control ? kFlip : 0) ^ s.mask[i];
    sought.push_back(s);
}

// Adds to `hits`, for each sought secret, the windows of `bytes` equal to it
// that end after the first `seen` bytes (counted already), unmasking byte by
// byte so that no secret is ever assembled.
inline void countIn(const unsigned char* bytes, std::size_t size, std::size_t seen, const std::vector<Sought>& sought,
                    std::vector<long>& hits) {
    std::bitset<256> firsts;
    for (const Sought& s : sought)
        firsts.set(s.masked[0] ^ s.mask[0]);
    for (std::size_t at = 0; at < size; ++at) {
        if (!firsts[bytes[at]]) continue;
        for (std::size_t k = 0; k < sought.size(); ++k) {
            const Sought& s = sought[k];
            if (at + s.size > size || at + s.size <= seen) continue;
            std::size_t i = 0;
            while (i < s.size && bytes[at + i] == (s.masked[i] ^ s.mask[i]))
                ++i;
            hits[k] += i == s.size;
        }
    }
}

// The sought secrets counted in every page of a process's readable
// mappings that holds data (present or swapped out), read through
// its /proc directory's mem into a buffer mapped after the list was taken (no listed
// mapping holds it). Mappings over 1 GiB (sanitizers' shadow memory) are
// passed over.
inline std::vector<long> countInMemory(const std::vector<Sought>& sought, const std::string& proc = "/proc/self") {
    const std::vector<std::string> maps = lines(readFile(proc + "/maps"));
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    constexpr std::size_t kCarry = 32;
    auto* buffer = static_cast<unsigned char*>(
        mmap(nullptr, page + kCarry, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    const int memory = open((proc + "/mem").c_str(), O_RDONLY), pagemap = open((proc + "/pagemap").c_str(), O_RDONLY);
    std::vector<long> hits(sought.size());
    for (const std::string& line : maps) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[0] != 'r' ||
            end - start > (1ul << 30))
            continue;
        std::size_t carried = 0; // the previous page's last bytes, when it was read
        for (unsigned long at = start; at < end; at += page) {
            std::uint64_t entry = 0; // bit 63: present, bit 62: swapped out
            const auto index = static_cast<off_t>(at / page * sizeof entry);
            if (pread(pagemap, &entry, sizeof entry, index) != sizeof entry || entry >> 62 == 0 ||
                pread(memory, buffer + carried, page, static_cast<off_t>(at)) != static_cast<ssize_t>(page)) {
                carried = 0;
                continue;
            }
            countIn(buffer, carried + page, carried, sought, hits);
            std::memmove(buffer, buffer + carried + page - kCarry, kCarry);
            carried = kCarry;
        }
    }
    close(pagemap);
    close(memory);
    munmap(buffer, page + kCarry);
    return hits;
}

// The sought secrets counted in the file at `path`.
inline std::vector<long> countInFile(const std::vector<Sought>& sought, const std::string& path) {
    const std::string text = readFile(path);
    std::vector<long> hits(sought.size());
    countIn(reinterpret_cast<const unsigned char*>(text.data()), text.size(), 0, sought, hits);
    return hits;
}

// Empty when no key was found and some control was; else what went wrong.
inline std::string faultsOf(const std::vector<Sought>& sought, const std::vector<long>& hits) {
    std::string faults;
    long controls = 0;
    for (std::size_t k = 0; k < sought.size(); ++k) {
        controls += sought[k].control ? hits[k] : 0;
        if (!sought[k].control && hits[k] > 0) faults += sought[k].what + std::to_string(sought[k].index) + " found; ";
    }
    return controls > 0 ? faults : faults + "no control found: the search finds nothing";
}

// The VmFlags of each mapping of this process that overlaps [start, end).

} // namespace quorvel_test
