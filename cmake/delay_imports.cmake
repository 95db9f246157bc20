# Windows looks for a DLL that is not one of its KnownDLLs in the executable's
# own folder first: a "winhttp.dll" left in the Downloads folder would be
# loaded into a launcher started from there. Those DLLs are therefore
# delay-loaded: nothing is loaded until the first call, and the launcher's
# first act is to limit the search to System32 (app/main.cpp). This makes a
# delay-import library for each of them from the toolchain's import library.
function(tw_make_delay_import_libs out_var)
    find_program(TW_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
    set(folder "${CMAKE_BINARY_DIR}/delay-imports")
    file(MAKE_DIRECTORY "${folder}")
    set(libs)
    foreach(dll ${ARGN})
        find_library(TW_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED)
        set(def "${folder}/${dll}.def")
        set(lib "${folder}/lib${dll}_delay.a")
        # The functions a DLL exports are the import library's text symbols
        # (data exports have only their __imp_ pointer and cannot be delayed).
        execute_process(
            COMMAND sh -c "printf 'LIBRARY %s.dll\\nEXPORTS\\n' '${dll}' && \
                '${CMAKE_NM}' '${TW_IMPORT_LIB_${dll}}' | awk '$2 == \"T\" && $3 !~ /^(__imp_|\\.)/ { print $3 }' | sort -u"
            OUTPUT_FILE "${def}" RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "could not list the exports of ${TW_IMPORT_LIB_${dll}}")
        endif()
        execute_process(COMMAND "${TW_DLLTOOL}" --input-def "${def}" --dllname "${dll}.dll"
                                --output-delaylib "${lib}" RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "could not make the delay-import library for ${dll}")
        endif()
        list(APPEND libs "${lib}")
    endforeach()
    set(${out_var} ${libs} PARENT_SCOPE)
endfunction()
