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
# A UTF-8 list with characters windows-1252 lacks, and with § and ¤ in it,
# and the same under names in other scripts.
printf '<!-- Le\303\247on -->\r\nfen\303\252tre;window\r\n\316\251\302\247om\303\251ga\r\n' >utf8.txt
printf 'caf\303\251\302\244coffee\r\n\360\237\230\200 \303\251t\303\251;summer\r\n' >>utf8.txt
{ printf '\377\376'; iconv -f UTF-8 -t UTF-16LE utf8.txt; } >utf16le.txt
{ printf '\376\377'; iconv -f UTF-8 -t UTF-16BE utf8.txt; } >utf16be.txt
for nom in 'Ελληνικά' 'словарь' '日本語' 'słówka' 'liste 😀'; do
	cp utf8.txt "$nom.txt"
done

n=0 echecs=0
# compare ARG...: run both builds with these arguments; the document, if
# any, is $but (but.xml unless set).
but=but.xml
compare() {
	n=$((n + 1))
	for b in natif win; do
		rm -f "$but"
		if [ $b = natif ]; then
			"$natif" "$@" >$b.out 2>$b.err && s=0 || s=$?
		else
			"$wine" "$exe" "$@" >$b.out 2>$b.oem && s=0 || s=$?
			iconv -f CP850 -t UTF-8 $b.oem >$b.err
		fi
		echo "$s" >$b.status
		if [ -f "$but" ]; then mv "$but" $b.xml; else : >$b.xml; fi
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
# Separators outside ASCII, in windows-1252, UTF-8 and UTF-16 sources.
for sep in '§' '¤' 'é'; do
	for source in vocabulaire.txt utf8.txt utf16le.txt utf16be.txt; do
		compare "$source" but.xml "$sep"
	done
done
compare utf16le.txt but.xml ';'
compare utf16be.txt but.xml ''

# Targets whose last character is outside ASCII, or a letter to upper-case.
for but in mots.é mots.É mots.ç mots.ß mots.Ω mots.q; do
	compare utf8.txt "$but" ';'
done
# Names in other scripts, as the source and as the target.
for nom in 'Ελληνικά' 'словарь' '日本語' 'słówka' 'liste 😀'; do
	but="$nom.xml"
	compare "$nom.txt" "$but" ';'
done
echo "$((n - echecs)) passed, $echecs failed"
[ "$echecs" -eq 0 ]
