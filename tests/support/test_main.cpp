// The entry point of every bench test program, in place of GoogleTest's: the tests, unless the program was started
// as its own helper ("--bench-child ROLE ARGS…", see child_process.h), the way Wine's conformance tests start
// themselves. A helper role is a small function of the support module that needs it, so that no test needs a helper
// program of its own built and shipped beside it.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/child_process.h"
#include "support/file_holder.h"

namespace {

struct ChildRole {
    const wchar_t *name;
    int (*run)(int argc, wchar_t **argv);  // the role's own arguments
};

int EndAtOnce(int, wchar_t **)
{
    return 0;
}

const ChildRole kRoles[] = {
    {L"hold-file", bench::HoldFileRole},
    {L"exit", EndAtOnce},
};

// The arguments are read again as UTF-16: a path of the bench may hold any character.
int RunChildRole()
{
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    int code = ERROR_INVALID_PARAMETER;
    if (args != nullptr && count >= 3) {
        for (const ChildRole &role : kRoles) {
            if (lstrcmpW(args[2], role.name) == 0) {
                code = role.run(count - 3, args + 3);
            }
        }
    }
    LocalFree(args);
    return code;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--bench-child") == 0) {
        return RunChildRole();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
