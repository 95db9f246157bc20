// Unit tests under Wine. A test that needs a process to die at a chosen
// moment starts this executable again with "--child NAME ARGS..."; the child
// runs that scenario instead of the tests.
#include "tests/windows/child_scenarios.h"

#include <gtest/gtest.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"--child") == 0)
        return run_child_scenario(argv[2], argc - 3, argv + 3);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
