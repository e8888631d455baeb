#!/bin/sh
# The Linux build and korvum.exe under Wine give the same document bytes,
# the same exit status and the same messages but for their encoding.
#   memes-octets.sh NATIVE_KORVUM KORVUM_EXE WINE EXAMPLES_DIR WORK_DIR
set -eu
natif=$1 exe=$2 wine=$3 exemples=$4 dir=$5
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"

cp "$exemples/vocabulaire.txt" vocabulaire.txt
# CR LF, lone CR, CR CR LF, markup, blank lines, a zero byte, a long line,
# a line without separator, and a 0x1A with text behind it.
{
	printf '<!-- en-t\352te -->\r\n\r\n  un;one  \r\ndeux;two\rtwo\r\r\n'
	printf '\t<p a="1">\r\n\n \t \r\ntrois;th\000ree\r\nsans s\351parateur\n'
	head -c 70000 /dev/zero | tr '\000' 'x'
	printf ';long\r\n<fin/>'
	printf '\032apr\350s;after\r\n'
} > epreuve.txt

n=0 echecs=0
# compare ARG...: run both builds with these arguments; the document, if
# any, is but.xml.
compare() {
	n=$((n + 1))
	for b in natif win; do
		rm -f but.xml
		if [ $b = natif ]; then
			"$natif" "$@" >$b.out 2>$b.err && s=0 || s=$?
		else
			"$wine" "$exe" "$@" >$b.out 2>$b.oem && s=0 || s=$?
			iconv -f CP850 -t UTF-8 $b.oem >$b.err
		fi
		echo "$s" >$b.status
		if [ -f but.xml ]; then mv but.xml $b.xml; else : >$b.xml; fi
	done
	for f in status xml err out; do
		if ! cmp -s natif.$f win.$f; then
			echecs=$((echecs + 1))
			echo "korvum $*: the $f differs"
			return
		fi
	done
	[ ! -s natif.out ] || { echecs=$((echecs + 1)); echo "korvum $*: stdout"; }
}

compare
compare absent.txt but.xml
compare vocabulaire.txt but.xml ';'
compare vocabulaire.txt but.xml
compare epreuve.txt but.xml ';'
compare epreuve.txt but.xml
compare epreuve.txt but.xml ''
compare epreuve.txt but.xml "$(printf '\r')"
echo "$((n - echecs)) passed, $echecs failed"
[ "$echecs" -eq 0 ]
