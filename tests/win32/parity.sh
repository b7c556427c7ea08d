#!/bin/bash
# Parity of the two builds: the same inputs through the Linux library (the
# zanpictors CLI) and through the Windows module (wlxhost under Wine), in
# several boxes and both alpha modes; every pair of thumbnails must have the
# same size and channels and differ by at most 1 in any channel. Metafiles
# have no renderer on Linux yet: there the Windows thumbnail must exist, and
# is compared once the Linux one does.
#   parity.sh WINE_RUN WLXHOST MODULE IMGDIFF LINUX_CLI INPUT_DIR OUT_DIR
set -u
wine_run=$1 wlxhost=$2 module=$3 imgdiff=$4 linux_cli=$5 inputs=$6 out=$7
. "$(dirname "$0")/winpath.sh"
"$wine_run" --probe || exit $?  # 77: this machine cannot run the module

if [ ! -x "$linux_cli" ]; then
  echo "parity: the Linux build's $linux_cli is missing (cmake --build --preset linux)" >&2
  exit 1
fi
mapfile -t files < <(find "$inputs" -maxdepth 1 -type f | sort)
if [ "${#files[@]}" -eq 0 ]; then
  echo "parity: no inputs in $inputs" >&2
  exit 1
fi
winfiles=()
for f in "${files[@]}"; do winfiles+=("$(winpath "$f")"); done

status=0
# The JPEG sample is 1600 x 1200: these boxes decode it at 1/8, 1/4, 1/2
# and full scale.
for run in "96x96 2" "256x256 2" "256x256 1" "640x400 2" "1000x1000 2" "40x300 1"; do
  set -- $run
  box=$1 version=$2
  dir="$out/$box-v$version"
  rm -rf "$dir"
  mkdir -p "$dir/linux" "$dir/windows"
  "$linux_cli" thumb "${files[@]}" -s "$box" --host-version "$version" -d "$dir/linux" 2>"$dir/linux.err"
  rc=$?
  [ $rc -le 1 ] || { echo "FAIL zanpictors thumb (Linux) exited with $rc for box $box"; grep -v 'no thumbnail' "$dir/linux.err"; status=1; }
  "$wine_run" "$wlxhost" "$(winpath "$module")" "${winfiles[@]}" -s "$box" --host-version "$version" \
    -d "$(winpath "$dir/windows")" 2>"$dir/windows.err"
  rc=$?
  [ $rc -le 1 ] || { echo "FAIL wlxhost (Windows) exited with $rc for box $box"; grep -v 'no thumbnail' "$dir/windows.err"; status=1; }
  echo "== box $box, host version $version"
  "$wine_run" "$imgdiff" "$(winpath "$dir/linux")" "$(winpath "$dir/windows")" \
    --only-in-b-ok .wmf.png --only-in-b-ok .emf.png || status=1
  for f in "${files[@]}"; do
    case "$f" in
      *.wmf|*.emf)
        name=$(basename "$f").png
        if [ -f "$dir/windows/$name" ]; then echo "ok   $name: rendered by the Windows build"
        else echo "FAIL $name: no thumbnail from the Windows build"; status=1; fi ;;
    esac
  done
done

echo "== detect string"
linux_detect=$("$linux_cli" detect | tr -d '\r')
windows_detect=$("$wine_run" "$wlxhost" "$(winpath "$module")" --detect | tr -d '\r')
if [ -n "$linux_detect" ] && [ "$linux_detect" = "$windows_detect" ]; then
  echo "ok   the same detect string (${#linux_detect} characters)"
else
  echo "FAIL detect strings differ:"; echo "  linux:   $linux_detect"; echo "  windows: $windows_detect"; status=1
fi
exit $status
