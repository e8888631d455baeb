#!/bin/sh
# What an XML reader finds in the documents korvum makes of one list saved
# in each encoding that editors offer: xmllint must accept each document
# and give back, in every Q, R and comment, the text of the list. Then
# lines that users met, and markup that korvum reports as unreadable.
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
# Lists as they also come, each read back as typed: an ANSI list joined
# with a UTF-8 one (copy /b), each line read in its own encoding; two
# lists joined with their marks, the second mark starting line 6; UTF-16
# without its mark; Mac line ends (CR alone); CR CR LF line ends.
sed -n '6,$p' liste.txt | crlf /dev/stdin >suite-utf8.txt
cat cp1252.txt suite-utf8.txt >jointe.txt
{ head -n 5 utf8-bom.txt; printf '\357\273\277'; cat suite-utf8.txt; } >jointe-bom.txt
crlf liste.txt | iconv -f UTF-8 -t UTF-16LE >utf16le-nu.txt
crlf liste.txt | iconv -f UTF-8 -t UTF-16BE >utf16be-nu.txt
crlf liste.txt | tr -d '\n' >mac.txt
sed 's/$/\r\r/' liste.txt >crcrlf.txt

echecs=0
for s in utf8 utf8-bom utf16le utf16be cp1252 jointe jointe-bom utf16le-nu \
	utf16be-nu mac crcrlf; do
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

# Lines that made documents no reader could open: a bare & or <, Word's
# manual line break, a stray byte windows-1252 leaves unassigned; and cells
# a spreadsheet quoted. xmllint reads each as typed, the markup the user
# meant as markup, a quoted cell as the cell, its line break too.
printf '%s\r\n' 'A & R man;R&D' '2 < 3;vrai' 'x <= y;<3' 'a]]>b;&eacute;' \
	'le <b>chat</b>;&amp; &#233;' >lignes.txt
# Cells a spreadsheet quoted, that hold the separator, quotes or a sign.
printf '"porte; fen\352tre";door\r\n' >>lignes.txt
printf '%s\r\n' '"Il dit ""oui""";yes' '"x < y; z";"vrai"' >>lignes.txt
# A cell over two lines, as Excel writes it: a bare LF inside its quotes.
printf '"ligne 1\nligne 2";x\r\n' >>lignes.txt
printf 'un\013deux;caf\201\r\n' >>lignes.txt
cat >lignes-attendu.txt <<'EOF2'
<SOLVARINE ID_CHAMP1="Q" ID_CHAMP2="R" TYPE="L">
<F><Q>A &amp; R man</Q><R>R&amp;D</R></F>
<F><Q>2 &lt; 3</Q><R>vrai</R></F>
<F><Q>x &lt;= y</Q><R>&lt;3</R></F>
<F><Q>a]]&gt;b</Q><R>&amp;eacute;</R></F>
<F><Q>le <b>chat</b></Q><R>&amp; é</R></F>
<F><Q>porte; fenêtre</Q><R>door</R></F>
<F><Q>Il dit "oui"</Q><R>yes</R></F>
<F><Q>x &lt; y; z</Q><R>vrai</R></F>
<F><Q>ligne 1
ligne 2</Q><R>x</R></F>
EOF2
# (U+FFFD for the break, U+0081 for the byte: what Windows maps it to.)
printf '<F><Q>un\357\277\275deux</Q><R>caf\302\201</R></F>\n</SOLVARINE>\n' \
	>>lignes-attendu.txt
printf '%s' "$(cat lignes-attendu.txt)" >lignes.c14n.attendu
$emulateur "$korvum" lignes.txt lignes.xml ';' 2>lignes.err || :
if ! xmllint --c14n lignes.xml >lignes.c14n 2>lignes.xmllint; then
	echo "lignes: xmllint refuses the document: $(cat lignes.xmllint)"
	echecs=$((echecs + 1))
elif ! cmp -s lignes.c14n lignes.c14n.attendu; then
	echo "lignes: the reader does not find the lines as typed:"
	diff lignes.c14n.attendu lignes.c14n || :
	echecs=$((echecs + 1))
fi

# Markup that leaves the document unreadable: korvum says so, and xmllint
# refuses what korvum wrote.
n=0
for l in 'le <b>chat;the cat</b>' '<!-- note' '<groupe>' '<p>Tom & Jerry</p>' \
	'<a b="1" b="2"/>' '<?xml version="1.0"?>'; do
	n=$((n + 1))
	printf '%s\r\na;b\r\n' "$l" >faute$n.txt
	$emulateur "$korvum" faute$n.txt faute$n.xml ';' 2>faute$n.err || :
	if ! grep -q 'document illisible' faute$n.err; then
		echo "$l: korvum does not report the document: $(cat faute$n.err)"
		echecs=$((echecs + 1))
	elif xmllint --noout faute$n.xml 2>/dev/null; then
		echo "$l: korvum reports a document that xmllint reads"
		echecs=$((echecs + 1))
	fi
done

echo "$echecs of 11 sources, the lines users met and $n faults failed"
[ "$echecs" -eq 0 ]
