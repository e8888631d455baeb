#!/bin/sh
# Build the packages of a build tree and check what each one holds.
#   paquets.sh BUILD_DIR WORK_DIR
set -eu
build=$1 dir=$2
rm -rf "$dir" && mkdir -p "$dir"
cpack --config "$build/CPackConfig.cmake" -B "$dir" >"$dir/cpack.log"

echecs=0
holds() { # holds LISTING FILE...: the listing names each file
	liste=$1
	shift
	for f in "$@"; do
		grep -q -- "$f\$" "$liste" || {
			echo "$(basename "$liste" .list) lacks $f"
			echecs=$((echecs + 1))
		}
	done
}
n=0
for p in "$dir"/*.deb "$dir"/*.tar.gz "$dir"/*.zip; do
	[ -f "$p" ] || continue
	n=$((n + 1))
	case $p in
	*.deb)
		dpkg-deb -c "$p" >"$p.list"
		holds "$p.list" ./usr/bin/korvum ./usr/share/man/man1/korvum.1 ;;
	*.tar.gz)
		cmake -E tar tf "$p" >"$p.list"
		holds "$p.list" /bin/korvum /share/man/man1/korvum.1 ;;
	*.zip)
		cmake -E tar tf "$p" >"$p.list"
		holds "$p.list" /korvum.exe /README.md \
			/examples/vocabulaire.txt /examples/vocabulaire.xml ;;
	esac
done
[ "$n" -gt 0 ] || { echo "no package made"; exit 1; }
echo "$n packages checked, $echecs files missing"
[ "$echecs" -eq 0 ]
