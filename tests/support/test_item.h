// The one way a test builds a prerequisite record for a package it provides. The package's size and SHA-256 come
// from a file the test made (PackageOfFile: computed with CryptoAPI, not the code under test), from a fixture of
// the loopback download server (PackageServed in download_bench.h: as the server computed them), or from facts a
// build step computed (PackageOf, PackageOfDigest). The record's
// strings live in the object, so it is neither copied nor moved; SetPrimaryUrl changes the address between two
// attempts of one window, as a server that answers differently the second time.
#pragma once
#include <windows.h>

#include <string>

#include "prereq/catalog.h"

namespace bench {

struct PackageFacts {
    bool valid;  // the file could be read, or the server has the fixture
    ULONGLONG size;
    BYTE sha256[32];
};

PackageFacts PackageOfFile(const std::wstring &path);
// Facts the test already holds: a fixture's size and digest as a build step computed them.
PackageFacts PackageOf(ULONGLONG size, const BYTE sha256[32]);
// The same from a benchmark's command line: the digest as 64 hexadecimal digits (valid false otherwise).
PackageFacts PackageOfDigest(ULONGLONG size, const wchar_t *sha256Hex);

class TestItem {
public:
    // fileName: the package's name in the download folder. update: a Windows update (a kbId, a test update's name).
    // primaryUrl: by default an address where nothing listens; an empty fallbackUrl means none.
    TestItem(const PackageFacts &package, const std::wstring &fileName, bool update,
             const std::wstring &primaryUrl = L"http://127.0.0.1:9/none", const std::wstring &fallbackUrl = L"");
    TestItem(const TestItem &) = delete;
    TestItem &operator=(const TestItem &) = delete;
    const PrerequisiteItem *get() const { return &item_; }
    bool valid() const { return valid_; }
    void SetPrimaryUrl(const std::wstring &url);
    // Shows the record under a catalogue entry's name, KB identifier and information page, as a merchant would see
    // that entry's window (the pictures of the window); the package and addresses stay the test's.
    void ShowAs(const PrerequisiteItem &entry);

private:
    std::wstring fileName_;
    std::wstring primary_;  // of any length: a test may pass an address too long for any buffer
    std::wstring fallback_;
    BYTE sha256_[32];
    bool valid_;
    PrerequisiteItem item_;
};

}  // namespace bench
