# Sources that need no Windows header. They are built into the launcher and
# also natively (under AddressSanitizer and UBSan) with the portable tests.
# Add a file here only when it and everything it calls is free of the OS.
set(TW_PORTABLE_SOURCES
    app/command_line.cpp
    app/log_format.cpp
    formats/json.cpp
    update/planning_rules.cpp
    formats/manifest.cpp
    formats/install_state.cpp
    formats/relative_path.cpp
    net/server_paths.cpp
    update/journal.cpp
)

# Unit tests that use only the portable sources above; they run natively and
# under Wine.
set(TW_PORTABLE_TESTS
    tests/unit/test_command_line.cpp
    tests/unit/test_json.cpp
    tests/unit/test_log_format.cpp
    tests/unit/test_planning_rules.cpp
    tests/unit/test_manifest.cpp
    tests/unit/test_install_state.cpp
    tests/unit/test_relative_path.cpp
    tests/unit/test_server_paths.cpp
    tests/unit/test_journal.cpp
)

# Fuzz targets: one file each, built with libFuzzer (clang).
set(TW_FUZZ_TARGETS
    fuzz/fuzz_json.cpp
    fuzz/fuzz_journal.cpp
)
