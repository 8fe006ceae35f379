// Benchmark of the host's own work on the warm path (not a test; scripts/bench-extract.sh runs it): the two gates,
// the payload's name, the reuse check of an existing copy and the launch set-up, with a payload of the real one's
// size carried as this program's resource, against the floor that this work cannot go below: a bare FNV-1a loop
// over the same bytes, the local application data folder lookup, and one read of the existing copy (the reuse check
// compares content). The process creation itself is left out: CreateProcessW is a stand-in here that fails at once,
// and the notice that follows is a stand-in too. Rounds alternate between the two, in one process.
// Prints key=value lines: bytes, rounds, the median and minimum milliseconds of each and their ratio, and the median
// milliseconds of the host's three parts (gates, extraction, launch set-up).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "launcher/os_gate.h"
#include "launcher/runtime_gate.h"
#include "payload/extract.h"
#include "payload/launch.h"
#include "support/bench_clock.h"
#include "support/host_bench.h"
#include "support/stand_in.h"

namespace {

BOOL WINAPI FailAtOnce(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                       LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

int WINAPI NoBox(HWND, LPCWSTR, LPCWSTR, UINT)
{
    return IDOK;
}

}  // namespace

REPLACE_IMPORT(CreateProcessW, 40, FailAtOnce);
REPLACE_IMPORT(MessageBoxW, 16, NoBox);

namespace {

// Milliseconds, the unit of every figure here.
double Now()
{
    return bench::ClockSeconds() * 1000.0;
}

volatile DWORD sink;

// The floor: what the reuse of a copy has to do at the least.
void Floor(const BYTE *bytes, DWORD size, const wchar_t *copy, BYTE *buffer)
{
    DWORD hash = 0x811C9DC5u;
    for (DWORD i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 0x01000193u;
    }
    wchar_t folder[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    HANDLE file = CreateFileW(copy, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    ReadFile(file, buffer, size, &read, nullptr);
    CloseHandle(file);
    sink = hash + read + folder[0];
}

struct Parts {
    std::vector<double> gates;
    std::vector<double> extraction;
    std::vector<double> launch;
};

// The host's own work on the warm path, as wWinMain does it up to the process creation.
void Host(Parts *parts)
{
    double start = Now();
    DWORD exitCode = 0;
    bool passes = PassesOsGate(&exitCode);
    bool present = IsRuntimeInstalled();
    double gated = Now();
    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    bool extracted = ExtractPayload(path, &held);
    double extractedAt = Now();
    DWORD launched = extracted ? LaunchPayload(path) : 0;
    double end = Now();
    parts->gates.push_back(gated - start);
    parts->extraction.push_back(extractedAt - gated);
    parts->launch.push_back(end - extractedAt);
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    sink = passes + present + extracted + launched;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 200;
    bench::ClearRuntimeFlags();
    bench::SetRuntimeFlag(0);
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_PAYLOAD), RT_RCDATA);
    DWORD size = SizeofResource(nullptr, resource);
    const BYTE *bytes = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, resource)));
    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!ExtractPayload(path, &held)) {  // the cold start, once: the copy exists from here on
        std::printf("error=extraction failed\n");
        return 1;
    }
    CloseHandle(held);
    static BYTE buffer[4 << 20];

    std::vector<double> host;
    std::vector<double> floor;
    Parts parts;
    for (int i = 0; i < rounds + 5; ++i) {
        double start = Now();
        Host(&parts);
        double middle = Now();
        Floor(bytes, size, path, buffer);
        double end = Now();
        if (i >= 5) {  // warm-up rounds are not counted
            host.push_back(middle - start);
            floor.push_back(end - middle);
        }
    }
    bench::ClearRuntimeFlags();
    std::printf("bytes=%lu\nrounds=%d\n", static_cast<unsigned long>(size), rounds);
    std::printf("host_median_ms=%.3f\nhost_min_ms=%.3f\n", Median(host), *std::min_element(host.begin(), host.end()));
    std::printf("floor_median_ms=%.3f\nfloor_min_ms=%.3f\n", Median(floor),
                *std::min_element(floor.begin(), floor.end()));
    std::printf("ratio_median=%.2f\nratio_min=%.2f\n", Median(host) / Median(floor),
                *std::min_element(host.begin(), host.end()) / *std::min_element(floor.begin(), floor.end()));
    std::printf("gates_median_ms=%.3f\nextraction_median_ms=%.3f\nlaunch_setup_median_ms=%.3f\n",
                Median(parts.gates), Median(parts.extraction), Median(parts.launch));
    return 0;
}
