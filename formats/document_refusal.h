#pragma once
// Which rule a reader of a whole document (the manifest, the state file)
// refused it by, so that the log and the publisher can name it and a refusal
// test can tell one rule from another.

enum class DocumentRefusal {
    none,
    syntax,             // not JSON, or a root that is not an object
    format,             // "format" is not 1
    no_files,           // no file entries
    no_exe,             // no executable to run
    unsafe_run_exe,     // the executable to run could leave the install folder
    unsafe_path,        // a file path could leave the install folder
    bad_piece_id,       // a piece id is not 64 lowercase hex characters
    conflicting_path,   // two paths name one place on Windows, or a launcher file
};

// The rule's name as above ("syntax", "unsafe_path", ...; "none" for none).
constexpr const char* document_refusal_name(DocumentRefusal refusal)
{
    switch (refusal) {
    case DocumentRefusal::none: return "none";
    case DocumentRefusal::syntax: return "syntax";
    case DocumentRefusal::format: return "format";
    case DocumentRefusal::no_files: return "no_files";
    case DocumentRefusal::no_exe: return "no_exe";
    case DocumentRefusal::unsafe_run_exe: return "unsafe_run_exe";
    case DocumentRefusal::unsafe_path: return "unsafe_path";
    case DocumentRefusal::bad_piece_id: return "bad_piece_id";
    case DocumentRefusal::conflicting_path: return "conflicting_path";
    }
    return "unknown";
}
