// Package verification against real files in the bench prefix: fixture packages whose digests hashlib computed at
// build time, copies of them with one thing wrong, a sparse file past 4 GiB, and a second process that holds a
// package open for writing. CreateFileW passes through a recording stand-in linked into this program, so a test can
// also tell how many times the file was opened: the cheap tests must reject a package before any read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/verify.h"
#include "support/bench.h"
#include "support/file_holder.h"
#include "support/test_item.h"
#include "verify_fixtures.h"
#include "support/stand_in.h"

namespace {

bool g_recording = false;
std::vector<std::wstring> g_opened;

HANDLE WINAPI CreateFileStandIn(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if (g_recording) {
        g_opened.push_back(path);
    }
    static auto real = REAL_IMPORT(L"kernel32.dll", CreateFileW);
    return real(path, access, share, security, disposition, flags, templateFile);
}

}  // namespace

REPLACE_IMPORT(CreateFileW, 28, CreateFileStandIn);

namespace {

bench::TestItem ItemFor(const VerifyFixture &fixture, bool update)
{
    return bench::TestItem(bench::PackageOf(fixture.size, fixture.sha256), fixture.fileName, update);
}

class VerifyPackageTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = bench::ScratchDir(L"verify"); }
    void TearDown() override { bench::RemoveTree(dir_); }

    // A copy of a fixture in the scratch folder, to spoil as a test needs.
    std::wstring Copy(const VerifyFixture &fixture, const wchar_t *as = nullptr)
    {
        std::wstring path = dir_ + L"\\" + (as != nullptr ? as : fixture.fileName);
        std::wstring source = bench::ExeDir() + L"\\verify-fixtures\\" + fixture.fileName;
        EXPECT_TRUE(CopyFileW(source.c_str(), path.c_str(), FALSE)) << "fixture missing";
        return path;
    }

    std::string Bytes(const std::wstring &path)
    {
        std::string bytes;
        EXPECT_TRUE(bench::ReadBytes(path, &bytes));
        return bytes;
    }

    // Runs the verification, counts its opens of the file and checks that it left the file exactly as it was.
    bool Verify(const std::wstring &path, const PrerequisiteItem *item, size_t *opens = nullptr)
    {
        bool exists = bench::FileExists(path);
        std::string before = exists ? Bytes(path) : "";
        FILETIME written = bench::LastWriteTime(path);
        g_opened.clear();
        g_recording = true;
        bool result = VerifyPackage(path.c_str(), item);
        g_recording = false;
        for (const std::wstring &opened : g_opened) {
            EXPECT_EQ(path, opened) << "opened another file";
        }
        if (opens != nullptr) {
            *opens = g_opened.size();
        }
        if (exists) {
            FILETIME after = bench::LastWriteTime(path);
            EXPECT_EQ(0, CompareFileTime(&written, &after)) << "last-write time changed";
            EXPECT_TRUE(before == Bytes(path)) << "content changed";
        } else {
            EXPECT_FALSE(bench::FileExists(path)) << "a missing file was created";
        }
        return result;
    }

    std::wstring dir_;
};

TEST_F(VerifyPackageTest, AcceptsTheExactPackageOfEitherKind)
{
    struct {
        const VerifyFixture &fixture;
        bool update;
    } cases[] = {
        {kUpdateFixture, true},             // a multiple of 65536 bytes: the last read delivers nothing
        {kInstallerFixture, false},         // a short last block
        {kBareExecutableSignature, false},  // nothing but the signature
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.fixture.fileName));
        bench::TestItem item = ItemFor(c.fixture, c.update);
        size_t opens = 0;
        EXPECT_TRUE(Verify(Copy(c.fixture), item.get(), &opens));
        EXPECT_EQ(1u, opens) << "one open for the signature and the digest";
    }
}

TEST_F(VerifyPackageTest, OneChangedByteAnywhereFailsTheDigest)
{
    const size_t last = static_cast<size_t>(kUpdateFixture.size - 1);
    // The first byte after the signature, both sides of each block boundary, and the last byte.
    for (size_t offset : {size_t{4}, size_t{65535}, size_t{65536}, size_t{131071}, size_t{131072}, last}) {
        SCOPED_TRACE(offset);
        std::wstring path = Copy(kUpdateFixture);
        std::string bytes = Bytes(path);
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        ASSERT_TRUE(bench::WriteBytes(path, bytes.data(), bytes.size()));
        bench::TestItem item = ItemFor(kUpdateFixture, true);
        size_t opens = 0;
        EXPECT_FALSE(Verify(path, item.get(), &opens));
        EXPECT_EQ(1u, opens) << "size and signature still pass";
    }
}

TEST_F(VerifyPackageTest, AWrongSizeFailsBeforeAnyOpen)
{
    bench::TestItem item = ItemFor(kUpdateFixture, true);
    std::string bytes = Bytes(Copy(kUpdateFixture));
    std::wstring shorter = dir_ + L"\\short.msu";
    std::wstring longer = dir_ + L"\\long.msu";
    ASSERT_TRUE(bench::WriteBytes(shorter, bytes.data(), bytes.size() - 1));
    ASSERT_TRUE(bench::WriteBytes(longer, (bytes + '\0').data(), bytes.size() + 1));
    for (const std::wstring &path : {shorter, longer}) {
        size_t opens = 0;
        EXPECT_FALSE(Verify(path, item.get(), &opens));
        EXPECT_EQ(0u, opens);
    }
}

// 4 GiB plus the package's size: the low 32 bits of the size agree, and the file begins with the real package.
TEST_F(VerifyPackageTest, ASizeDifferingAbove32BitsFailsBeforeAnyOpen)
{
    std::wstring path = Copy(kUpdateFixture, L"huge.msu");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD returned = 0;
    LARGE_INTEGER end;
    end.QuadPart = (1ll << 32) + static_cast<LONGLONG>(kUpdateFixture.size);
    bool grown = DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) &&
                 SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    FILE_STANDARD_INFO info = {};
    bool queried = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof(info));
    CloseHandle(file);
    ASSERT_TRUE(grown);
    ASSERT_TRUE(queried);
    ASSERT_EQ(end.QuadPart, info.EndOfFile.QuadPart);
    ASSERT_LT(info.AllocationSize.QuadPart, 16ll << 20) << "the file did not stay sparse";

    // Not through Verify(): its before-and-after comparison would read all 4 GiB.
    bench::TestItem item = ItemFor(kUpdateFixture, true);
    FILETIME written = bench::LastWriteTime(path);
    g_opened.clear();
    g_recording = true;
    EXPECT_FALSE(VerifyPackage(path.c_str(), item.get()));
    g_recording = false;
    EXPECT_EQ(0u, g_opened.size()) << "only the low half of the size was compared";
    FILETIME after = bench::LastWriteTime(path);
    EXPECT_EQ(0, CompareFileTime(&written, &after));
    EXPECT_EQ(static_cast<ULONGLONG>(end.QuadPart), bench::FileSize(path));
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST_F(VerifyPackageTest, TheSignatureMustBeThatOfThePackageKind)
{
    // Size and digest are right in every row: only the signature can reject these.
    struct {
        const char *what;
        const VerifyFixture &fixture;
        bool update;
        size_t opens;
    } cases[] = {
        {"an executable where an update belongs", kInstallerFixture, true, 1},
        {"a cabinet where an installer belongs", kUpdateFixture, false, 1},
        {"two bytes where an update needs four", kBareExecutableSignature, true, 1},
        {"three bytes of a cabinet signature", kShortCabinetSignature, true, 1},
        {"an empty update package", kEmptyFile, true, 1},
        {"an empty installer", kEmptyFile, false, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        bench::TestItem item = ItemFor(c.fixture, c.update);
        size_t opens = 0;
        EXPECT_FALSE(Verify(Copy(c.fixture), item.get(), &opens));
        EXPECT_EQ(c.opens, opens);
    }
}

TEST_F(VerifyPackageTest, AMissingFileOrANullItemFailsWithoutAnOpen)
{
    bench::TestItem item = ItemFor(kUpdateFixture, true);
    size_t opens = 0;
    EXPECT_FALSE(Verify(dir_ + L"\\absent.msu", item.get(), &opens));
    EXPECT_EQ(0u, opens);
    EXPECT_FALSE(Verify(dir_ + L"\\no-folder\\update.msu", item.get(), &opens));
    EXPECT_EQ(0u, opens);
    EXPECT_FALSE(Verify(Copy(kUpdateFixture), nullptr, &opens));
    EXPECT_EQ(0u, opens);
}

// A package still being written by another process (a download, a copy) is not trusted, whatever share mode the
// writer granted. Once the writer lets go, the same file passes.
TEST_F(VerifyPackageTest, AFileAnotherProcessHoldsForWritingFails)
{
    bench::TestItem item = ItemFor(kUpdateFixture, true);
    std::wstring path = Copy(kUpdateFixture);
    for (DWORD share : {0ul, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        bench::FileHolder holder(path, share);
        bool holding = holder.holding();
        bool whileHeld = holding && VerifyPackage(path.c_str(), item.get());
        DWORD exitCode = holder.Release();

        ASSERT_TRUE(holding) << "the helper did not hold the file";
        EXPECT_EQ(0u, exitCode);
        EXPECT_FALSE(whileHeld);
        EXPECT_TRUE(Verify(path, item.get())) << "released, the file passes";
    }
}

// The digest alone, against the standard's own test vectors.
TEST_F(VerifyPackageTest, FileDigestMatchesOnlyAllThirtyTwoBytes)
{
    const BYTE abc[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22,
                          0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00,
                          0x15, 0xad};
    const BYTE empty[32] = {0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4, 0xc8, 0x99, 0x6f, 0xb9,
                            0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b, 0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52,
                            0xb8, 0x55};
    std::wstring abcPath = dir_ + L"\\abc.bin";
    std::wstring emptyPath = dir_ + L"\\empty.bin";
    ASSERT_TRUE(bench::WriteBytes(abcPath, "abc", 3));
    ASSERT_TRUE(bench::WriteBytes(emptyPath, "", 0));

    EXPECT_TRUE(FileSha256Matches(abcPath.c_str(), abc));
    EXPECT_TRUE(FileSha256Matches(emptyPath.c_str(), empty));
    for (int at : {0, 15, 31}) {
        BYTE wrong[32];
        CopyMemory(wrong, abc, 32);
        wrong[at] ^= 0x80;
        EXPECT_FALSE(FileSha256Matches(abcPath.c_str(), wrong)) << "digest byte " << at;
    }
    EXPECT_FALSE(FileSha256Matches(emptyPath.c_str(), abc));
    EXPECT_FALSE(FileSha256Matches((dir_ + L"\\absent.bin").c_str(), empty));
}

}  // namespace
