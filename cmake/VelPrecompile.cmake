# Precompiled headers. Most of a file's compile time here goes to reading Qt's and the standard
# library's headers again. Each library and program with several files reads them once, from a
# header precompiled with its own flags. The test programs (one or two files each, all compiled
# alike) share the first one's in their folder, where QtTest defines the same folder name for
# all; a shared header the compiler refuses for other macros is reported (CMake's
# -Winvalid-pch). A header is never shared further: the compiler keeps flags such as the
# default symbol visibility from where it was made, without a word. Only outside headers go in,
# never ours, so every file still compiles without them (-DVEL_PCH=OFF). Left out for the fuzz
# targets, built with clang.
option(VEL_PCH "Precompile Qt's and the standard library's headers" ON)
if(VEL_FUZZ)
  set(VEL_PCH OFF)
endif()

set(VEL_PCH_HEADERS
  <QByteArray> <QDateTime> <QHash> <QList> <QObject> <QString> <QStringList> <QVariant>
  <algorithm> <functional> <memory> <optional> <string> <vector>)

# Every target in `dir` and below: those with at least `min_sources` C++ files, and the tests.
function(vel_precompile_all dir min_sources)
  if(NOT VEL_PCH)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    list(LENGTH sources count)
    get_property(donor DIRECTORY ${dir} PROPERTY VEL_TEST_PCH)
    if(target MATCHES "^tst_" AND donor)
      target_precompile_headers(${target} REUSE_FROM ${donor})
    elseif(target MATCHES "^tst_")
      target_precompile_headers(${target} PRIVATE ${VEL_PCH_HEADERS})
      set_property(DIRECTORY ${dir} PROPERTY VEL_TEST_PCH ${target})
    elseif(count GREATER_EQUAL min_sources)
      target_precompile_headers(${target} PRIVATE ${VEL_PCH_HEADERS})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vel_precompile_all(${sub} ${min_sources})
  endforeach()
endfunction()
