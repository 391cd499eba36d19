#!/usr/bin/env bash
# The layer rule over the text of every core source:   check_includes.sh ROOT
# Each #include in a core folder names a project header from the top
# ("drive/atapi.h") in a folder its layer may see, or a C++ standard library
# header; nothing else. The include roots make the compiler refuse a header
# of a layer a library does not link, but the compiler also looks in the
# including file's own folder first, so "../drive/device_entry.h" or
# "sim/virtual_clock.h" would get past them; and no include path can keep out
# <unistd.h>. This reads every branch, the ones the build skips (#ifdef _WIN32)
# included. Prints each offending line; exits 1 when there is one.
set -uo pipefail
root=${1:?usage: check_includes.sh ROOT}

# Each core folder (its own files, not its sub-folders) and the folders it may
# include from: drive <- image (a leaf, no drive) <- flash <- app; the Windows
# transports and the simulator sit on the drive's core. drive/linux,
# drive/win32, drive/sim/linux, the file system's sides image/posix and
# image/win32 and the front ends under app/ talk to their system and are not
# core.
declare -A kMayInclude=(
  [drive]="drive"
  [drive/windows]="drive/windows drive"
  [drive/sim]="drive/sim drive/windows drive"
  [drive/sim/windows_host]="drive/sim drive/windows drive"
  [image]="image"
  [flash]="flash image drive"
  [app]="app flash image drive"
)
# The sub-folders of core folders that are not core: the systems' back ends
# and the front ends. A new sub-folder must be put in one of the two lists, so
# that none escapes the check.
kNotCore=" drive/linux drive/win32 drive/sim/linux image/posix image/win32 app/cli app/linux app/qt app/win32 app/pictures "

# The headers of the C++20 standard library; the C library's own <*.h> names
# and everything else are the system's or a toolkit's.
kStandardHeaders=" algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex
  concepts condition_variable coroutine deque exception execution filesystem format forward_list fstream
  functional future initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale
  map memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex
  scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept stop_token
  streambuf string string_view strstream syncstream system_error thread tuple type_traits typeindex
  typeinfo unordered_map unordered_set utility valarray variant vector version
  cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef
  cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype "
kStandardHeaders=$(tr -s ' \n' '  ' <<<"$kStandardHeaders")

status=0
refuse() {
  echo "$1: $2"
  status=1
}

for folder in "${!kMayInclude[@]}"; do
  [ -d "$root/$folder" ] || continue
  for sub in "$root/$folder"/*/; do
    [ -d "$sub" ] || continue
    sub=${sub#"$root"/}
    sub=${sub%/}
    if [ -z "${kMayInclude[$sub]+core}" ] && [[ $kNotCore != *" $sub "* ]]; then
      refuse "$sub/" "a folder in no layer: put it in kMayInclude or kNotCore of this check"
    fi
  done
  for file in "$root/$folder"/*; do
    case $file in *.h | *.hpp | *.inl | *.cpp | *.cc) ;; *) continue ;; esac
    where=${file#"$root"/}
    # Every preprocessor line that brings in a file, however it is spaced.
    while IFS=: read -r number line; do
      at="$where:$number"
      [[ $line =~ ^[[:space:]]*#[[:space:]]*(include_next|include|import)[[:space:]]*(.*)$ ]]
      target=${BASH_REMATCH[2]}
      if [[ $target =~ ^\"([^\"]*)\" ]]; then
        header=${BASH_REMATCH[1]}
        if [[ $header == /* || $header == *\\* || $header =~ ^[A-Za-z]: || /$header/ == */../* || /$header/ == */./* ]]; then
          refuse "$at" "\"$header\" climbs out of the include roots: include from the top (\"$folder/...\")"
          continue
        fi
        if [[ $header != */* ]]; then
          refuse "$at" "\"$header\" names no folder: include from the top (\"$folder/$header\")"
          continue
        fi
        dir=${header%/*}
        allowed=0
        for may in ${kMayInclude[$folder]}; do [ "$dir" = "$may" ] && allowed=1; done
        if [ $allowed = 0 ]; then
          refuse "$at" "\"$header\" is in $dir/, which $folder/ may not include (it may include ${kMayInclude[$folder]// /, })"
        fi
      elif [[ $target =~ ^\<([^\>]*)\> ]]; then
        header=${BASH_REMATCH[1]}
        if [[ $kStandardHeaders != *" $header "* ]]; then
          refuse "$at" "<$header> is not a C++ standard library header: core code includes no system or toolkit header"
        fi
      else
        refuse "$at" "'$line' names no header in quotes or angle brackets"
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*(include|include_next|import)([^[:alnum:]_]|$)' "$file")
  done
done
exit $status
