# Hardening of the programs, on by default: the service runs unattended and
# reads files that other programs write. Each measure is taken only where the
# toolchain supports it. Our flags go in front of the user's or the
# distribution's CXXFLAGS and LDFLAGS, so that where both speak (-fno-pie,
# -fstack-protector-all, -Wl,-z,lazy) theirs win.
option(TORMEL_HARDENING "Build hardened programs (PIE, full RELRO, stack protector, _FORTIFY_SOURCE)" ON)
if(NOT TORMEL_HARDENING)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

set(tormel_hardening_compile "")
set(tormel_hardening_link "")

# A flag that the compiler takes both when compiling and when linking (MinGW
# links its stack protector runtime only when the flag is on the link line).
function(tormel_harden_compile flag var)
  set(CMAKE_REQUIRED_LINK_OPTIONS ${flag})
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    set(tormel_hardening_compile "${tormel_hardening_compile} ${flag}" PARENT_SCOPE)
  endif()
endfunction()

function(tormel_harden_link flag var)
  set(CMAKE_REQUIRED_FLAGS "${tormel_hardening_compile}")
  check_linker_flag(CXX ${flag} ${var})
  if(${var})
    set(tormel_hardening_link "${tormel_hardening_link} ${flag}" PARENT_SCOPE)
  endif()
endfunction()

tormel_harden_compile(-fstack-protector-strong TORMEL_HAVE_STACK_PROTECTOR)
if(WIN32)
  # Address space layout randomisation (with the whole 64-bit range) and
  # non-executable data; recent binutils set them by default, older ones not.
  tormel_harden_link(-Wl,--dynamicbase TORMEL_HAVE_DYNAMICBASE)
  tormel_harden_link(-Wl,--high-entropy-va TORMEL_HAVE_HIGH_ENTROPY_VA)
  tormel_harden_link(-Wl,--nxcompat TORMEL_HAVE_NXCOMPAT)
else()
  tormel_harden_compile(-fPIE TORMEL_HAVE_FPIE)
  if(TORMEL_HAVE_FPIE)
    tormel_harden_link(-pie TORMEL_HAVE_PIE)
  endif()
  tormel_harden_link(-Wl,-z,relro TORMEL_HAVE_RELRO)
  tormel_harden_link(-Wl,-z,now TORMEL_HAVE_BIND_NOW)
endif()

set(CMAKE_CXX_FLAGS "${tormel_hardening_compile} ${CMAKE_CXX_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS "${tormel_hardening_link} ${CMAKE_EXE_LINKER_FLAGS}")

# _FORTIFY_SOURCE, per build type: only where the build type's flags
# optimise (without, it does nothing, and some C libraries warn), and not where
# the user's flags or the compiler itself define it already (Debian's
# CPPFLAGS, some distributions' compilers): their level stays. The
# sanitizers check the same accesses better, and do not mix with it.
if(TORMEL_SANITIZE)
  return()
endif()
get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(multi_config)
  set(configs ${CMAKE_CONFIGURATION_TYPES})
elseif(CMAKE_BUILD_TYPE)
  set(configs ${CMAKE_BUILD_TYPE})
else()
  # No build type: the user's flags alone, as with None.
  set(configs None)
endif()
foreach(config IN LISTS configs)
  string(TOUPPER "${config}" CONFIG)
  set(CMAKE_REQUIRED_FLAGS "${CMAKE_CXX_FLAGS_${CONFIG}}")
  check_cxx_source_compiles([[
#if defined _FORTIFY_SOURCE || !defined __OPTIMIZE__
#error defined already, or no optimisation
#endif
int main() { return 0; }]] TORMEL_FORTIFY_WANTED_${CONFIG})
  if(NOT TORMEL_FORTIFY_WANTED_${CONFIG})
    continue()
  endif()
  set(CMAKE_REQUIRED_FLAGS "${CMAKE_CXX_FLAGS_${CONFIG}} -D_FORTIFY_SOURCE=2 -Werror")
  check_cxx_source_compiles([[
#include <cstdio>
#include <cstring>
int main(int argc, char** argv) {
  char name[16];
  std::strncpy(name, argv[0], sizeof name - 1);
  name[sizeof name - 1] = 0;
  std::printf("%s %d", name, argc);
  return 0;
}]] TORMEL_HAVE_FORTIFY_${CONFIG})
  if(TORMEL_HAVE_FORTIFY_${CONFIG})
    if(multi_config)
      add_compile_definitions($<$<CONFIG:${config}>:_FORTIFY_SOURCE=2>)
    else()
      add_compile_definitions(_FORTIFY_SOURCE=2)
    endif()
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
