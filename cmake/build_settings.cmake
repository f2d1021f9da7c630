# The build-time settings: CMake cache variables that the launcher's code
# receives as compile definitions, checked here when configuring, and named in
# a small text file beside the shipped launcher, so that a release says what it
# was built with. Included by the top-level CMakeLists.txt; also runs on its
# own (cmake -DNAME=value -P cmake/build_settings.cmake), which only checks the
# values, as tests/tools does.

# The two servers the launcher talks to, as whole URLs baked into the binary:
# the installer's download, and the launch report up to and including its
# fixed query (the report appends its own fields with "&"). Either may be
# http:// or https://.
set(TARNIX_DOWNLOAD_URL "http://download.tarnix.example/v1/t/full/p/union/tn/ap_kmtrw/ch_dl_url"
    CACHE STRING "URL of the installer download")
set(TARNIX_REPORT_URL "http://stats.tarnix.example/report?softid=136&serviceid=10400&cmdid=1630&1=1"
    CACHE STRING "URL of the launch report, up to and including its fixed query")
# Seconds without any received data after which a download counts as failed;
# 0 means no limit.
set(TARNIX_DOWNLOAD_STALL_SECONDS 60 CACHE STRING "Receive time-out of the installer download")
# The subject common name of the certificate that must sign a downloaded
# installer before it runs. Empty turns the signature check off, for a
# deployment whose installers are unsigned.
set(TARNIX_INSTALLER_SIGNER "Korvane" CACHE STRING
    "Common name of the installer's signer (empty: installers are not checked for a signature)")

# Every setting that changes the launcher's bytes, in the order the settings
# file names them.
set(TARNIX_BUILD_SETTINGS TARNIX_DOWNLOAD_URL TARNIX_REPORT_URL TARNIX_DOWNLOAD_STALL_SECONDS
    TARNIX_INSTALLER_SIGNER)

foreach(url_setting TARNIX_DOWNLOAD_URL TARNIX_REPORT_URL)
  # A scheme the launcher speaks, a host, and only printable ASCII without a
  # blank, a quote, a backslash or a semicolon (CMake's list separator), so
  # that the value reaches the compiler as one C string literal unchanged.
  if(NOT ${url_setting} MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://[^/?#]")
    message(FATAL_ERROR "${url_setting} must start with http:// or https:// and a host name.")
  elseif(NOT ${url_setting} MATCHES "^[!-~]+$" OR ${url_setting} MATCHES "[\\\";]")
    message(FATAL_ERROR "${url_setting} must be printable ASCII without a blank, quote, "
                        "backslash or semicolon.")
  endif()
endforeach()
# The report appends "&app_name=..." and its other fields to this URL: without
# a query of its own they would land in the path, and after a "#" in a fragment,
# which is never sent.
if(NOT TARNIX_REPORT_URL MATCHES "^[^?#]*[?][^#]+$")
  message(FATAL_ERROR "TARNIX_REPORT_URL must end in a query of its own (\"...?name=value\") "
                      "and hold no \"#\": the report appends \"&app_name=...\" to it.")
endif()
# Multiplied by 1000 into a 32-bit count of milliseconds.
if(NOT TARNIX_DOWNLOAD_STALL_SECONDS MATCHES "^[0-9]+$" OR TARNIX_DOWNLOAD_STALL_SECONDS GREATER 4294967)
  message(FATAL_ERROR "TARNIX_DOWNLOAD_STALL_SECONDS must be a whole number of seconds from 0 "
                      "(no limit) to 4294967.")
endif()
if(TARNIX_INSTALLER_SIGNER STREQUAL "")
  message(WARNING "TARNIX_INSTALLER_SIGNER is empty: this build runs any downloaded installer that "
                  "is a Windows program, signed or not, with administrator rights where asked.")
elseif(TARNIX_INSTALLER_SIGNER MATCHES "[\\\"]")
  message(FATAL_ERROR "TARNIX_INSTALLER_SIGNER must not contain a quote or a backslash.")
endif()

# Writes `path`: one NAME=value line per setting, the value exactly as
# configured (a verifier passes each line back as -DNAME=value). Rewritten only
# when a value changed, so that an unchanged configure rebuilds nothing.
function(tarnix_write_build_settings path)
  set(text "")
  foreach(name IN LISTS TARNIX_BUILD_SETTINGS)
    string(APPEND text "${name}=${${name}}\n")
  endforeach()
  set(old "")
  if(EXISTS "${path}")
    file(READ "${path}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()
