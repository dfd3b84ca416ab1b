# Fails when a run-time binding table binds an entry that no code uses: an unused entry could
# only ever disable the binding when a module lacks it. Run as:
#   cmake -DROOT=<repository> -P CheckBindings.cmake
cmake_minimum_required(VERSION 3.25)

# Where the bound entries may be used from; a table and the header beside it declaring the
# entry pointers do not count as users.
set(caller_folders hid locator cli ui app)

set(callers "")
foreach(folder ${caller_folders})
    file(GLOB_RECURSE found ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
    list(APPEND callers ${found})
endforeach()

set(tables "")
foreach(file ${callers})
    file(READ ${file} text)
    if(text MATCHES "const ModuleEntry [A-Za-z0-9_]+\\[\\]")
        list(APPEND tables ${file})
    endif()
endforeach()
set(code "")
foreach(file ${callers})
    string(REGEX REPLACE "\\.h$" ".cpp" companion "${file}")
    if(file IN_LIST tables OR companion IN_LIST tables)
        continue()
    endif()
    file(READ ${file} text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}") # comments use nothing
    string(APPEND code "\n${text}")
endforeach()
if(NOT tables)
    message(FATAL_ERROR "no binding table found under ${caller_folders}")
endif()

set(unused 0)
foreach(table ${tables})
    file(STRINGS ${table} rows REGEX "MODULE_ENTRY\\([A-Za-z0-9_]+\\)")
    foreach(row ${rows})
        string(REGEX REPLACE ".*MODULE_ENTRY\\(([A-Za-z0-9_]+)\\).*" "\\1" entry "${row}")
        # A call, or the entry handed on as a function: the name itself, not the platform's
        # function of the same name (platform::...).
        if(NOT code MATCHES "[^A-Za-z0-9_:]${entry}[^A-Za-z0-9_]")
            file(RELATIVE_PATH where ${ROOT} ${table})
            message(SEND_ERROR "${where}: binds ${entry}, which nothing uses")
            math(EXPR unused "${unused} + 1")
        endif()
    endforeach()
endforeach()
if(unused GREATER 0)
    message(FATAL_ERROR "${unused} bound entr(y/ies) nothing uses")
endif()
message(STATUS "bindings: every bound entry is used")
