#!/bin/sh
# The add-in library as the platform finds it unpacked alone: it needs only
# glibc's libraries (and a sanitizer's runtimes in such a build) and exports
# exactly the five entry points.
#   check_library.sh LIBRARY [sanitized]
set -eu
lib=$1
sanitized=${2:-}
status=0

glibc='^(libc|libm|libdl|libpthread|librt|libresolv|ld-linux-x86-64)\.so'
# A sanitized build may also take the shared C++ runtime (its leak checker
# cannot follow the static one's blocks once the library is unloaded).
runtime='^(libasan|libubsan|libtsan|liblsan|libstdc\+\+|libgcc_s)\.so'
for needed in $(readelf -dW "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  if echo "$needed" | grep -Eq "$glibc"; then continue; fi
  if [ -n "$sanitized" ] && echo "$needed" | grep -Eq "$runtime"; then continue; fi
  echo "needs $needed, which is not glibc's"
  status=1
done
if [ -z "$sanitized" ]; then
  # Everything it loads, not only what it names.
  for loaded in $(ldd "$lib" | awk '{print $1}'); do
    case "$loaded" in
      linux-vdso.so.*) ;;
      *) basename "$loaded" | grep -Eq "$glibc" || { echo "ldd: loads $loaded"; status=1; } ;;
    esac
  done
fi

exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [ -n "$sanitized" ]; then
  exports=$(echo "$exports" | grep -Ev '^__(asan|ubsan|tsan|lsan|sanitizer)' || true)
fi
exports=$(echo "$exports" | tr '\n' ' ')
expected="DestroyObject GetAttachType GetClassNames GetClassObject SetPlatformCapabilities "
if [ "$exports" != "$expected" ]; then
  echo "exports: $exports"
  echo "expected: $expected"
  status=1
fi
exit $status
