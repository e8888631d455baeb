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
lints=0
lint() { # lint DEB: Debian's package checker finds no error and no warning
	if ! command -v lintian >/dev/null; then
		echo "lintian is not installed (Debian package lintian)"
		lints=$((lints + 1))
		return
	fi
	# It says E: for an error and W: for a warning, I: and N: for the rest.
	st=0
	lintian --fail-on error,warning "$1" >"$1.lintian" 2>&1 || st=$?
	if [ "$st" -ne 0 ] || grep -q '^[EW]: ' "$1.lintian"; then
		echo "lintian $(basename "$1") (status $st):"
		cat "$1.lintian"
		lints=$((lints + 1))
	fi
}
n=0
for p in "$dir"/*.deb "$dir"/*.tar.gz "$dir"/*.zip; do
	[ -f "$p" ] || continue
	n=$((n + 1))
	case $p in
	*.deb)
		dpkg-deb -c "$p" >"$p.list"
		holds "$p.list" ./usr/bin/korvum ./usr/share/man/man1/korvum.1.gz \
			./usr/share/doc/korvum/copyright \
			./usr/share/doc/korvum/changelog.gz
		lint "$p" ;;
	*.tar.gz)
		cmake -E tar tf "$p" >"$p.list"
		holds "$p.list" /bin/korvum /share/man/man1/korvum.1.gz \
			/share/doc/korvum/copyright /share/doc/korvum/changelog.gz ;;
	*.zip)
		cmake -E tar tf "$p" >"$p.list"
		holds "$p.list" /korvum.exe /LISEZMOI.txt /README.md /LICENSE \
			/examples/vocabulaire.txt /examples/vocabulaire.xml \
			/examples/voyage.txt /examples/voyage.xml ;;
	esac
done
[ "$n" -gt 0 ] || { echo "no package made"; exit 1; }
echo "$n packages checked, $echecs files missing, $lints lintian failures"
[ "$echecs" -eq 0 ] && [ "$lints" -eq 0 ]
