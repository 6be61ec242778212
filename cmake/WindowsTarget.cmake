# Compiler and linker settings shared by every Windows target of the project.

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-Wall -Wextra -fstack-protector-strong)
# A native fault in an event handler is thrown on as a C++ error from the faulting instruction:
# every instruction that may fault needs a call-site entry and exact unwind rules.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fnon-call-exceptions> $<$<COMPILE_LANGUAGE:C,CXX>:-fasynchronous-unwind-tables>)
# Static runtime: the exe must start alone on a clean Windows or Wine.
add_link_options(-static -fstack-protector-strong
    -Wl,--dynamicbase,--nxcompat,--large-address-aware,--no-insert-timestamp
    -Wl,--major-subsystem-version,6,--minor-subsystem-version,1
    -Wl,--major-os-version,6,--minor-os-version,1)

set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG")

if(CMAKE_BUILD_TYPE STREQUAL "Release")
    # Fortify links with this CRT only together with the stack protector (above).
    add_compile_definitions(_FORTIFY_SOURCE=2)
    # Build paths must not leak into the image, or two checkouts build different bytes.
    add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
endif()

# Programs whose entry is wWinMain or wmain (wide command line) link with this;
# console programs that take GoogleTest's main() do not.
function(use_wide_entry target)
    target_link_options(${target} PRIVATE -municode)
endfunction()
