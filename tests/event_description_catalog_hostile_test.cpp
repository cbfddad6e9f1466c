// Hostile catalogues: huge lines, a million lines, NUL bytes,
// invalid UTF-8, carriage returns without line feeds, and files that cannot be
// read. The catalogue loads what its line rules give and its memory stays a
// small multiple of the file's size. Memory is counted by replacing the global
// allocation functions of this program.
#include "cef_test_support.h"
#include "child_process.h"
#include "compiled_template_parts.h"
#include "hostile_catalogs.h"
#include "skip_or_fail.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace {

std::atomic<long long> heapInUse{0};
std::atomic<long long> heapPeak{0};

void* countedAllocation(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    const long long now = heapInUse += static_cast<long long>(malloc_usable_size(block));
    long long peak = heapPeak;
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void countedRelease(void* block) {
    if (block == nullptr) return;
    heapInUse -= static_cast<long long>(malloc_usable_size(block));
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return countedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { countedRelease(block); }
void operator delete[](void* block) noexcept { countedRelease(block); }
void operator delete(void* block, std::size_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { countedRelease(block); }

namespace {

using quorvel::EventDescriptionCatalog;
using quorvel_test::CatalogDirectory;

// Heap that a catalogue load needs at its peak and keeps afterwards.
struct LoadMemory {
    long long peak;
    long long kept;
};

// Loads the catalogue of `directory` into `catalog`, measuring its heap.
LoadMemory load(std::unique_ptr<EventDescriptionCatalog>& catalog) {
    const long long before = heapInUse;
    heapPeak = before;
    catalog = std::make_unique<EventDescriptionCatalog>();
    return LoadMemory{heapPeak - before, heapInUse - before};
}

std::string expanded(const EventDescriptionCatalog& catalog, const std::string& signature, const std::string& user) {
    CEF_EVENT event;
    event.setSignatureID(signature);
    event.setSourceUserName(user);
    return catalog.message(event);
}

void expectSmallMultiple(const LoadMemory& memory, long long fileSize, const char* what) {
    ::testing::Test::RecordProperty(std::string(what) + "_file_bytes", std::to_string(fileSize));
    ::testing::Test::RecordProperty(std::string(what) + "_peak_bytes", std::to_string(memory.peak));
    ::testing::Test::RecordProperty(std::string(what) + "_kept_bytes", std::to_string(memory.kept));
    EXPECT_LE(memory.peak, 2 * fileSize) << what;
    EXPECT_LE(memory.kept, 3 * fileSize / 2) << what;
}

TEST(CefHostileCatalog, SixteenMebibyteLinesOfTextAndOfPlaceholders) {
    // One line of plain text with a placeholder every 64 bytes, one made of
    // nothing but placeholders, and a short line after them.
    const std::string text = quorvel_test::longTextTemplate();
    const std::string placeholders = quorvel_test::longPlaceholderTemplate();
    {
        CatalogDirectory directory;
        std::string content = quorvel_test::longLinesCatalog(text, placeholders);
        const long long fileSize = static_cast<long long>(content.size());
        directory.write(content);
        content = std::string();
        std::unique_ptr<EventDescriptionCatalog> catalog;
        const LoadMemory memory = load(catalog);
        expectSmallMultiple(memory, fileSize, "long_lines");

        ASSERT_NE(catalog->find("text"), std::nullopt);
        EXPECT_EQ(quorvel_test::templateText(*catalog->find("text")), text);
        EXPECT_EQ(quorvel_test::placeholdersOf(*catalog->find("text")).size(), text.size() / 64);
        ASSERT_NE(catalog->find("placeholders"), std::nullopt);
        EXPECT_EQ(quorvel_test::placeholdersOf(*catalog->find("placeholders")).size(), placeholders.size() / 5);
        EXPECT_EQ(expanded(*catalog, "after", "u"), "tail");
        const std::string message = expanded(*catalog, "text", "u");
        EXPECT_EQ(message.size(), text.size() - 6 * (text.size() / 64));
        EXPECT_EQ(message.compare(0, 58, "u" + std::string(57, 'x')), 0);
    }
}

TEST(CefHostileCatalog, AMillionLines) {
    std::string content = quorvel_test::millionLinesCatalog();
    const long long fileSize = static_cast<long long>(content.size());
    CatalogDirectory directory;
    directory.write(content);
    content = std::string();

    std::unique_ptr<EventDescriptionCatalog> catalog;
    const LoadMemory memory = load(catalog);
    expectSmallMultiple(memory, fileSize, "million_lines");
    for (const char* signature : {"0000000", "0500000", "0999999"})
        EXPECT_EQ(expanded(*catalog, signature, "bob"), "User bob logged in from ") << signature;
    EXPECT_EQ(catalog->find("1000000"), std::nullopt);
}

TEST(CefHostileCatalog, NulBytesAndInvalidUtf8AreTakenAsBytes) {
    CatalogDirectory directory;
    using namespace std::string_literals;
    directory.write("a\0b=x\0{suser}\0y\n"s                   // NUL in the identifier and around a placeholder
                    "\xff\xfe=\xc3\x28{suser}\xed\xa0\x80\n"s // ill-formed sequences, a surrogate
                    "ff=\xff\x85{suser}\xff\xff\n"s           // bytes 0xFF around a placeholder
                    "\0=nul\n"s                               // an identifier that is one NUL
                    "\xc0\xaf\n"s);                           // an overlong "/" without "="
    const EventDescriptionCatalog catalog;
    EXPECT_EQ(expanded(catalog, "a\0b"s, "u"), "x\0u\0y"s);
    EXPECT_EQ(expanded(catalog, "\xff\xfe", "\xe9"), "\xc3\x28\xe9\xed\xa0\x80");
    EXPECT_EQ(expanded(catalog, "ff", "u"), "\xff\x85u\xff\xff");
    EXPECT_EQ(expanded(catalog, "\0"s, "u"), "nul");
    EXPECT_EQ(expanded(catalog, "\xc0\xaf", "u"), "\xc0\xaf");
    EXPECT_EQ(catalog.find("a"), std::nullopt);
    EXPECT_EQ(catalog.find(""), std::nullopt);
}

TEST(CefHostileCatalog, CarriageReturnsAloneDoNotEndLines) {
    CatalogDirectory directory;
    directory.write("1=one {suser}\r2=two\r3=three\r\r");
    const EventDescriptionCatalog catalog;
    EXPECT_EQ(expanded(catalog, "1", "u"), "one u\r2=two\r3=three");
    EXPECT_EQ(catalog.find("2"), std::nullopt);
    EXPECT_EQ(catalog.find("3"), std::nullopt);
}

TEST(CefHostileCatalog, PathsThatCannotBeReadGiveAnEmptyCatalogue) {
    CatalogDirectory directory;
    {
        SCOPED_TRACE("missing file");
        const EventDescriptionCatalog catalog;
        EXPECT_EQ(catalog.find(""), std::nullopt);
    }
    {
        SCOPED_TRACE("a directory in place of the file");
        ASSERT_EQ(mkdir(directory.file().c_str(), 0755), 0);
        const EventDescriptionCatalog catalog;
        EXPECT_EQ(catalog.find(""), std::nullopt);
        rmdir(directory.file().c_str());
    }
    {
        SCOPED_TRACE("a file in place of the directory");
        directory.write("1=x\n");
        setenv("VRQ_SERVER_CONFIGDIR", directory.file().c_str(), 1);
        const EventDescriptionCatalog catalog;
        EXPECT_EQ(catalog.find(""), std::nullopt);
        EXPECT_EQ(catalog.find("1"), std::nullopt);
    }
}

// As an unprivileged user: root reads a file of mode 000 all the same.
TEST(CefHostileCatalog, FileWithoutReadPermissionGivesAnEmptyCatalogue) {
    CatalogDirectory directory;
    directory.write("1=x\n");
    ASSERT_EQ(chmod(directory.file().c_str(), 0), 0);
    const int found = quorvel_test::runAsUnprivileged([] { return EventDescriptionCatalog().find("1") ? 1 : 0; });
    if (found == quorvel_test::kCannotDropPrivileges) QUORVEL_SKIP_OR_FAIL("cannot drop root's privileges");
    EXPECT_EQ(found, 0) << "1: the catalogue read the file; anything else: its process failed";
}

} // namespace
