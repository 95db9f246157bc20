# Sources that need no Windows header. They are built into the launcher and
# also natively (under AddressSanitizer and UBSan) with the portable tests.
# Add a file here only when it and everything it calls is free of the OS.
set(TW_PORTABLE_SOURCES
    app/command_line.cpp
    app/uninstall_plan.cpp
    base/log_format.cpp
    base/long_path.cpp
    base/work_slots.cpp
    base/owner_table.cpp
    app/progress_text.cpp
    base/launcher_command_lines.cpp
    formats/json.cpp
    formats/manifest.cpp
    formats/install_state.cpp
    formats/relative_path.cpp
    formats/file_name_case.cpp
    net/server_paths.cpp
    update/planning_rules.cpp
    update/journal.cpp
    update/launcher_jobs.cpp
    splash/splash_layout.cpp
    splash/capsule_bar.cpp
    splash/pixel_font.cpp
    splash/frame_scaler.cpp
    splash/frame_source.cpp
    splash/window_placement.cpp
    splash/cross_fade.cpp
)

# Unit tests that use only the portable sources above; they run natively and
# under Wine.
set(TW_PORTABLE_TESTS
    tests/unit/test_command_line.cpp
    tests/unit/test_uninstall_plan.cpp
    tests/unit/test_json.cpp
    tests/unit/test_log_format.cpp
    tests/unit/test_long_path.cpp
    tests/unit/test_progress_text.cpp
    tests/unit/test_manifest.cpp
    tests/unit/test_install_state.cpp
    tests/unit/test_relative_path.cpp
    tests/unit/test_server_paths.cpp
    tests/unit/test_planning_rules.cpp
    tests/unit/test_journal.cpp
    tests/unit/test_splash_layout.cpp
    tests/unit/test_capsule_bar.cpp
    tests/unit/test_pixel_font.cpp
    tests/unit/test_frame_scaler.cpp
    tests/unit/test_frame_source.cpp
    tests/unit/test_window_placement.cpp
    tests/unit/test_cross_fade.cpp
    tests/unit/test_video_timing.cpp
    tests/unit/test_checked_arithmetic.cpp
    tests/unit/test_work_slots.cpp
    tests/unit/test_owner_table.cpp
)

# Fuzz targets: one file each, built with libFuzzer (clang).
set(TW_FUZZ_TARGETS
    fuzz/fuzz_json.cpp
    fuzz/fuzz_journal.cpp
    fuzz/fuzz_manifest.cpp
    fuzz/fuzz_install_state.cpp
    fuzz/fuzz_file_name.cpp
)

# Compressed pieces: decoder (launcher) and its tests.
list(APPEND TW_PORTABLE_SOURCES
    formats/crc32.cpp
    formats/piece_codec.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_piece_codec.cpp
)
list(APPEND TW_FUZZ_TARGETS
    fuzz/fuzz_piece_decoder.cpp
    fuzz/fuzz_piece_roundtrip.cpp
)
# Studio-side code that fuzz targets need besides the portable sources.
list(APPEND TW_FUZZ_EXTRA_SOURCES
    tools/publish/piece_encoder.cpp
)
# Native-only tests that also need studio-side code (the piece encoder); they
# join the sanitize build's portable_tests.
list(APPEND TW_HOST_TESTS
    tests/host/test_piece_roundtrip.cpp
)
list(APPEND TW_PORTABLE_TEST_EXTRA_SOURCES
    tools/publish/piece_encoder.cpp
    ${TW_HOST_TESTS}
)

# Verify runs and headless progress lines: the summary and the cadence.
list(APPEND TW_PORTABLE_SOURCES
    app/progress_lines.cpp
    update/verify_report.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_progress_lines.cpp
    tests/unit/test_verify_report.cpp
)

# The windowed launcher's decisions: frame pacing, bar progress and ticks,
# window geometry and caption buttons, z-order and host rules, the poll of
# the update status.
list(APPEND TW_PORTABLE_SOURCES
    app/windowed_poll.cpp
    splash/frame_pacing.cpp
    splash/bar_progress.cpp
    splash/splash_geometry.cpp
    splash/zorder_rules.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_windowed_poll.cpp
    tests/unit/test_splash_rules.cpp
)

# Finding the pieces of an update in the installed files.
list(APPEND TW_PORTABLE_SOURCES
    update/piece_sources.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_piece_sources.cpp
)

# Where each downloaded piece is written (the stage copies of its files).
list(APPEND TW_PORTABLE_SOURCES
    update/piece_delivery.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_piece_delivery.cpp
)

# Decoded video frames (NV12) into the renderer's 32-bit frames.
list(APPEND TW_PORTABLE_SOURCES
    splash/nv12_to_bgrx.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_nv12_to_bgrx.cpp
)

# Whether a verified manifest may replace the installed release (serials).
list(APPEND TW_PORTABLE_SOURCES
    update/release_order.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_release_order.cpp
)

# The studio's key records (keys.json) and what they prove: read by the
# launcher and by the publisher.
list(APPEND TW_PORTABLE_SOURCES
    formats/key_records.cpp
    formats/key_trust.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_key_records.cpp
)
list(APPEND TW_FUZZ_TARGETS
    fuzz/fuzz_key_records.cpp
)

# The download limit (its sources and the shared budget) and the answers to
# a proxy that asks for credentials.
list(APPEND TW_PORTABLE_SOURCES
    app/download_limit.cpp
    net/download_budget.cpp
    net/proxy_rules.cpp
)
list(APPEND TW_PORTABLE_TESTS
    tests/unit/test_download_limit.cpp
    tests/unit/test_proxy_rules.cpp
)
list(APPEND TW_FUZZ_TARGETS
    fuzz/fuzz_network_settings.cpp
)
