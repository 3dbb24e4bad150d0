# One interface target carries the language level and the warnings; every target links it.
add_library(kavel_common INTERFACE)
target_compile_features(kavel_common INTERFACE cxx_std_20)
target_compile_options(kavel_common INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Woverloaded-virtual
    -Wold-style-cast -Werror
    # GCC 12 reports false -Wrestrict positives inside std::string concatenation at -O2 and above.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
    # GCC 12 cannot see into a destroying operator delete and, from -O1 on, takes the access
    # record's (which frees what the global operator new gave) for a mismatched pair.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-mismatched-new-delete>)
set(CMAKE_CXX_EXTENSIONS OFF)
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
target_link_libraries(kavel_common INTERFACE Threads::Threads)

# Product values of the version information, compiled into the binaries.
set(KAVEL_PRODUCT_NAME "Kavel")
set(KAVEL_COMPANY_NAME "Quarnet")
set(KAVEL_FILE_DESCRIPTION "Kavel - live web server access log monitor")
set(KAVEL_FILE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
set(KAVEL_LEGAL_COPYRIGHT "Copyright (c) 2026 Quarnet")

# Regular expressions of the quick filter: RE2 matches in time linear in the text, so no
# pattern a user types can hang the window or the watcher.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET GLOBAL re2)
