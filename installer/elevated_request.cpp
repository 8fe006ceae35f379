// The elevated step's command line, written and read in one place so that the two sides cannot drift apart. The
// catalogue is reached by name only through the four update entries listed here: a name the elevated side does not
// know is refused, never looked up anywhere else.
#include "installer/elevated_request.h"

#include "common/bounded_text.h"

// Long, lower-case and with a prefix no merchant or script types: the host's own arguments are short options.
const wchar_t kElevatedUpdateArgument[] = L"--velvaro-private-elevated-update";

namespace {

struct NamedUpdate {
    const wchar_t *name;
    const PrerequisiteItem *item;
};

constexpr NamedUpdate kUpdates[] = {
    {L"ServicingStackUpdateX86", &ServicingStackUpdateX86},
    {L"Sha2UpdateX86", &Sha2UpdateX86},
    {L"ServicingStackUpdateX64", &ServicingStackUpdateX64},
    {L"Sha2UpdateX64", &Sha2UpdateX64},
};

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

const wchar_t *SkipBlanks(const wchar_t *p)
{
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

// The text starts with literal, and the literal's end is followed by a blank or the end of the text.
bool StartsWithToken(const wchar_t *text, const wchar_t *literal, int length)
{
    for (int i = 0; i < length; ++i) {
        if (text[i] != literal[i]) {
            return false;
        }
    }
    return text[length] == L'\0' || IsBlank(text[length]);
}

}  // namespace

const wchar_t *UpdateItemName(const PrerequisiteItem *item)
{
    for (const NamedUpdate &update : kUpdates) {
        if (item != nullptr && update.item == item) {
            return update.name;
        }
    }
    return nullptr;
}

bool FormatElevatedUpdateRequest(wchar_t *buffer, size_t capacity, const PrerequisiteItem *item, const wchar_t *path)
{
    const wchar_t *name = UpdateItemName(item);
    return name != nullptr &&
           FormatBounded(buffer, capacity, L"%s %s \"%s\"", kElevatedUpdateArgument, name, path) == S_OK;
}

bool IsElevatedUpdateRequest(const wchar_t *arguments)
{
    return arguments != nullptr &&
           StartsWithToken(arguments, kElevatedUpdateArgument, lstrlenW(kElevatedUpdateArgument));
}

bool ParseElevatedUpdateRequest(const wchar_t *arguments, const PrerequisiteItem **item, wchar_t *path)
{
    *item = nullptr;
    path[0] = L'\0';
    if (!IsElevatedUpdateRequest(arguments)) {
        return false;
    }
    const wchar_t *p = SkipBlanks(arguments + lstrlenW(kElevatedUpdateArgument));
    const PrerequisiteItem *named = nullptr;
    for (const NamedUpdate &update : kUpdates) {
        int length = lstrlenW(update.name);
        if (StartsWithToken(p, update.name, length)) {
            named = update.item;
            p += length;
            break;
        }
    }
    if (named == nullptr) {
        return false;
    }
    p = SkipBlanks(p);
    if (*p != L'"') {
        return false;
    }
    const wchar_t *start = ++p;
    while (*p != L'\0' && *p != L'"') {
        ++p;
    }
    size_t length = static_cast<size_t>(p - start);
    if (*p != L'"' || length == 0 || length >= MAX_PATH || *SkipBlanks(p + 1) != L'\0') {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        path[i] = start[i];
    }
    path[length] = L'\0';
    *item = named;
    return true;
}
