#!/bin/sh
# What an XML reader finds in the documents korvum makes of one list saved
# in each encoding that editors offer: xmllint must accept each document
# and give back, in every Q, R and comment, the text of the list.
#   lecteur.sh KORVUM WORK_DIR [EMULATOR]
set -eu
korvum=$1 dir=$2 emulateur=${3:-}
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"

cat >liste.txt <<'EOF'
<!-- Leçon 1 : à la maison, “guillemets” et 5 € -->
fenêtre;window
cœur;heart
Ÿ;y
  ça va ?;how are you?  
Ωμέγα;omega
寿司;sushi
😀;smile
Łódź;Lodz
słówka;words
EOF
# The canonical form of the document, in UTF-8, as xmllint writes it.
cat >attendu.txt <<'EOF'
<SOLVARINE ID_CHAMP1="Q" ID_CHAMP2="R" TYPE="L">
<!-- Leçon 1 : à la maison, “guillemets” et 5 € -->
<F><Q>fenêtre</Q><R>window</R></F>
<F><Q>cœur</Q><R>heart</R></F>
<F><Q>Ÿ</Q><R>y</R></F>
<F><Q>ça va ?</Q><R>how are you?</R></F>
<F><Q>Ωμέγα</Q><R>omega</R></F>
<F><Q>寿司</Q><R>sushi</R></F>
<F><Q>😀</Q><R>smile</R></F>
<F><Q>Łódź</Q><R>Lodz</R></F>
<F><Q>słówka</Q><R>words</R></F>
</SOLVARINE>
EOF
crlf() { sed 's/$/\r/' "$1"; }
# (xmllint writes no line end after the root element.)
printf '%s' "$(cat attendu.txt)" >attendu.c14n

crlf liste.txt >utf8.txt
{ printf '\357\273\277'; crlf liste.txt; } >utf8-bom.txt
{ printf '\377\376'; crlf liste.txt | iconv -f UTF-8 -t UTF-16LE; } >utf16le.txt
{ printf '\376\377'; crlf liste.txt | iconv -f UTF-8 -t UTF-16BE; } >utf16be.txt
# windows-1252 holds the comment and the first four records only.
head -n 5 liste.txt | crlf /dev/stdin | iconv -f UTF-8 -t CP1252 >cp1252.txt
{ head -n 6 attendu.txt; printf '</SOLVARINE>'; } >attendu-cp1252.c14n

echecs=0
for s in utf8 utf8-bom utf16le utf16be cp1252; do
	$emulateur "$korvum" $s.txt $s.xml ';' 2>$s.err || {
		echo "$s: korvum ended with $?: $(cat $s.err)"
		echecs=$((echecs + 1))
		continue
	}
	attendu=attendu.c14n
	[ $s != cp1252 ] || attendu=attendu-cp1252.c14n
	if ! xmllint --c14n $s.xml >$s.c14n 2>$s.xmllint; then
		echo "$s: xmllint refuses the document: $(cat $s.xmllint)"
		echecs=$((echecs + 1))
	elif ! cmp -s $s.c14n $attendu; then
		echo "$s: the reader does not find the list's text:"
		diff $attendu $s.c14n || :
		echecs=$((echecs + 1))
	fi
done
echo "$echecs of 5 encodings failed"
[ "$echecs" -eq 0 ]
