#!/bin/sh
# Types the commands of LISEZMOI.txt as a Windows user would, and checks
# that each does what the guide says it does:
#   guide.sh WINE KORVUM_EXE SOURCE_DIR WORK_DIR
# The cmd.exe lines run in Wine's cmd: a typed line through its standard
# input (where % is single, as at the prompt), a .bat file with cmd /c.
# Wine has no PowerShell, so each PowerShell line runs as korvum.exe given
# the arguments that PowerShell 5.1 hands over for it: quotes removed,
# "`t" a tab, and a bare ; the end of the command, not an argument. A
# PowerShell line that writes a list is emulated by writing the bytes
# that PowerShell 5.1 and 7 write for it, and korvum.exe is run on them.
# Every command line of the guide (a line indented by four spaces that
# begins with a command) must be one this script checks: a command added
# to the guide without its check fails the test.
set -eu
wine=$1 exe=$2 src=$3 dir=$4
guide=$src/LISEZMOI.txt
rm -rf "$dir" && mkdir -p "$dir"
echecs=0
faute() { # faute MESSAGE: one check failed
	echo "FAIL: $*"
	echecs=$((echecs + 1))
}
tab=$(printf '\t')

# The file as Notepad wants it on every Windows: UTF-8 with its mark, CR LF.
[ "$(head -c3 "$guide" | od -An -tx1 | tr -d ' \n')" = efbbbf ] ||
	faute "LISEZMOI.txt does not begin with UTF-8's byte-order mark"
iconv -f UTF-8 -t UTF-16 "$guide" >/dev/null 2>&1 ||
	faute "LISEZMOI.txt is not well-formed UTF-8"
lf=$(tr -cd '\n' <"$guide" | wc -c)
cr=$(tr -cd '\r' <"$guide" | wc -c)
crlf=$(grep -c "$(printf '\r')\$" "$guide" || :)
[ "$lf" -gt 0 ] && [ "$lf" -eq "$cr" ] && [ "$lf" -eq "$crlf" ] &&
	[ "$(tail -c2 "$guide" | od -An -tx1 | tr -d ' \n')" = 0d0a ] ||
	faute "LISEZMOI.txt has line ends other than CR LF ($lf LF, $cr CR)"

# The guide's command lines, and those checked below.
texte=$dir/guide.txt
tail -c +4 "$guide" | tr -d '\r' >"$texte"
sed -n 's/^    //p' "$texte" |
	grep -E '^(korvum |\.\.?\\korvum|for |foreach |if |echo |type |@echo|pause|\$)' |
	sort -u >"$dir/commandes" || :
: >"$dir/verifiees"
# French typography in the guide's own sentences: qu'Excel, double-clic,
# a space before "!" (korvum's messages, quoted as they are, have none,
# nor has markup: <!-- -->, <!DOCTYPE>).
tr '\n' ' ' <"$texte" | grep -oE "que +Excel|double clic" &&
	faute "the guide writes \"que Excel\" or \"double clic\""
grep -n '[^ ]!' "$texte" | grep -v -e '<!' -e "entrée!" -e "sortie!" \
	-e "remplace pas!" &&
	faute "the guide writes \"!\" without a space before it"
donne() { # donne LINE: the guide gives this command line; it is checked here
	printf '%s\n' "$1" >>"$dir/verifiees"
	grep -qxF "    $1" "$texte" || faute "the guide no longer gives: $1"
}

# A folder laid out as the ZIP's, the lists of the checks, and the ways
# to run a command in it.
zip=$dir/korvum
installe() { # a fresh folder, and the current directory
	rm -rf "$zip" && mkdir -p "$zip/examples" "$zip/listes"
	cp "$exe" "$zip/korvum.exe"
	cp "$guide" "$zip/"
	cp "$src/examples/vocabulaire.txt" "$src/examples/vocabulaire.xml" \
		"$zip/examples/"
	cd "$zip"
}
tape() { # tape LINE...: types the lines at cmd's prompt, in this folder
	printf '%s\r\n' "$@" >"$dir/entree"
	"$wine" cmd <"$dir/entree" >"$dir/sortie" 2>"$dir/erreurs" || :
}
lance_bat() { # lance_bat FILE: runs a batch file as cmd.exe does
	"$wine" cmd /c "$1" </dev/null >"$dir/sortie" 2>"$dir/erreurs" || :
}
ps51() { # ps51 EXE ARG...: korvum.exe given ARG..., as PowerShell passes them
	statut=0
	"$wine" "$@" </dev/null >"$dir/sortie" 2>"$dir/erreurs" || statut=$?
}
exemple() { # exemple DOC WHAT: DOC is the example's document, and
	# korvum said only that line 13 has no separator
	cmp -s "$1" "$src/examples/vocabulaire.xml" ||
		faute "$2: $1 is not examples/vocabulaire.xml"
	[ "$(grep -c 'ligne' "$dir/erreurs")" -eq 1 ] &&
		grep -q 'ligne 13\.' "$dir/erreurs" ||
		faute "$2: korvum said $(cat "$dir/erreurs")"
}
# A tab-separated list, as Excel's "Texte Unicode" is (in ASCII here:
# its encoding is not what these checks are about).
liste_tab() {
	printf 'maison\thouse\r\nporte d%sentree\tfront door\r\n' "'" >liste.txt
}
tab_juste() { # tab_juste WHAT: liste.xml holds both records of liste_tab
	grep -qF "<F><Q>maison</Q><R>house</R></F>" liste.xml &&
		grep -qF "<F><Q>porte d'entree</Q><R>front door</R></F>" liste.xml &&
		! [ -s "$dir/erreurs" ] ||
		faute "$1: the tab did not reach korvum as the separator"
}

# Part 3 and 4: the example, with the separator as each shell needs it.
for l in 'korvum examples\vocabulaire.txt vocabulaire.xml ;' \
	'korvum examples\vocabulaire.txt vocabulaire.xml ";"'; do
	donne "$l"
	installe && tape "$l" && exemple vocabulaire.xml "cmd: $l"
done
# PowerShell removes either kind of quotes: both lines pass the same.
donne ".\\korvum.exe examples\\vocabulaire.txt vocabulaire.xml ';'"
donne '.\korvum.exe examples\vocabulaire.txt vocabulaire.xml ";"'
installe && ps51 ./korvum.exe 'examples\vocabulaire.txt' vocabulaire.xml ';'
exemple vocabulaire.xml "PowerShell: ';'"
[ "$statut" -eq 0 ] || faute "PowerShell: ';' ends with status $statut"
# The forms the guide forbids do what it says: in cmd ';' makes the
# apostrophe the separator, in PowerShell a bare ; leaves korvum without
# one, so it splits at the first space.
installe && tape "korvum examples\\vocabulaire.txt vocabulaire.xml ';'"
# (Of the example's ten data lines, only "porte d'entrée" has one.)
grep -qF "<F><Q>porte d</Q>" vocabulaire.xml &&
	[ "$(grep -c '<F>' vocabulaire.xml)" -eq 1 ] &&
	[ "$(grep -c 'ligne' "$dir/erreurs")" -eq 9 ] ||
	faute "cmd: ';' did not make the apostrophe the separator"
installe && ps51 ./korvum.exe 'examples\vocabulaire.txt' vocabulaire.xml
grep -qF "<F><Q>porte</Q>" vocabulaire.xml && grep -q 'ligne 3\.' "$dir/erreurs" ||
	faute "PowerShell: a bare ; did not leave the space as the separator"
# Names with spaces.
l='korvum "ma liste.txt" "ma liste.xml" ;'
donne "$l"
installe && cp examples/vocabulaire.txt "ma liste.txt" && tape "$l"
exemple "ma liste.xml" "cmd: $l"
donne ".\\korvum.exe \"ma liste.txt\" \"ma liste.xml\" ';'"
installe && cp examples/vocabulaire.txt "ma liste.txt"
ps51 ./korvum.exe "ma liste.txt" "ma liste.xml" ';'
exemple "ma liste.xml" "PowerShell: ma liste"
# The type letter is the target's last letter.
installe && tape 'korvum examples\vocabulaire.txt vocabulaire.xmlq ;'
grep -qF '<SOLVARINE TYPE="Q"' vocabulaire.xmlq ||
	faute "cmd: vocabulaire.xmlq does not give TYPE=\"Q\""
# The tab: in PowerShell "`t", in cmd a .bat with a tab between quotes.
donne '.\korvum.exe liste.txt liste.xml "`t"'
installe && liste_tab && ps51 ./korvum.exe liste.txt liste.xml "$tab"
tab_juste 'PowerShell: "`t"'
l="korvum liste.txt liste.xml \"$tab\""
donne "$l"
installe && liste_tab && printf '%s\r\n' "$l" >tabulation.bat
tape tabulation
tab_juste 'cmd: tabulation.bat'
grep -qF 'Tapez ensuite  tabulation  dans' "$texte" ||
	faute "the guide no longer says how to run tabulation.bat"

# Parts 1 and 4: a question that starts with a tag is copied as markup,
# and the spaces French puts before ";", a no-break one too, stay in the
# fields; & and < that begin no markup are written so that they read as
# typed, and a tag or a reference written on purpose stays.
installe && printf '<i>la</i> maison;the house\r\nmaison ; house\r\n' >liste.txt
printf 'porte\302\240;door\r\n' >>liste.txt
printf '%s\r\n' 'rock & roll;R&D' '2 < 3;<3' 'le <b>chat</b>;&amp; &#233;' >>liste.txt
ps51 ./korvum.exe liste.txt liste.xml ';'
LC_ALL=C grep -qxF "$(printf '<i>la</i> maison;the house\r')" liste.xml &&
	LC_ALL=C grep -qF '<F><Q>maison </Q><R> house</R></F>' liste.xml &&
	LC_ALL=C grep -qF "$(printf '<F><Q>porte\240</Q><R>door')" liste.xml &&
	grep -qF '<F><Q>rock &amp; roll</Q><R>R&amp;D</R></F>' liste.xml &&
	grep -qF '<F><Q>2 &lt; 3</Q><R>&lt;3</R></F>' liste.xml &&
	grep -qF '<F><Q>le <b>chat</b></Q><R>&amp; &#233;</R></F>' liste.xml &&
	[ "$(grep -c '<F>' liste.xml)" -eq 5 ] && ! [ -s "$dir/erreurs" ] ||
	faute "a leading tag, a space before ;, & or < did not do what the guide says"

# Part 6: "Texte Unicode" from Excel, where a third column used on one
# line only leaves a tab at the end of the others, and Greek questions
# end in ";". And the lines PowerShell writes with Set-Content -Encoding
# UTF8: in UTF-8 with a BOM in 5.1, without one in 7.
grec='\316\244\316\271 \316\272\316\254\316\275\316\265\316\271\317\202;'
ref='&#932;&#953; &#954;&#940;&#957;&#949;&#953;&#962;;'
installe && printf '\377\376' >liste.txt
printf "$grec\tHow are you?\t\r\nmaison\thouse\tnote\r\n" |
	iconv -f UTF-8 -t UTF-16LE >>liste.txt
ps51 ./korvum.exe liste.txt liste.xml "$tab"
grep -qF "<F><Q>$ref</Q><R>How are you?</R></F>" liste.xml &&
	grep -qF "<F><Q>maison</Q><R>house${tab}note</R></F>" liste.xml ||
	faute "Texte Unicode: a Greek question or the third column went wrong"
# Excel's "CSV UTF-8": its mark, CR LF, cells quoted for the separator, a
# quote or a line break (a bare LF), an empty last cell. LibreOffice on
# Linux with "quote all text cells": LF alone, every cell that is not
# empty quoted, TABs.
installe && printf '\357\273\277"porte; fen\303\252tre";door\r\n' >liste.txt
printf '"Il dit ""oui""";yes\r\nmaison;\r\n"ligne 1\nligne 2";x\r\n' >>liste.txt
ps51 ./korvum.exe liste.txt liste.xml ';'
LC_ALL=C grep -qF "$(printf '<F><Q>porte; fen\352tre</Q><R>door</R></F>')" liste.xml &&
	grep -qF '<F><Q>Il dit "oui"</Q><R>yes</R></F>' liste.xml &&
	grep -qF '<F><Q>maison</Q><R></R></F>' liste.xml &&
	grep -qF '<F><Q>ligne 1&#10;ligne 2</Q><R>x</R></F>' liste.xml &&
	! [ -s "$dir/erreurs" ] ||
	faute "Excel's CSV UTF-8: a quoted or an empty cell went wrong"
installe && printf '"chat"\t"cat"\n"ours"\t\n"a\tb"\t"c"\n"d\ne"\t"f"\n' >liste.txt
ps51 ./korvum.exe liste.txt liste.xml "$tab"
grep -qF '<F><Q>chat</Q><R>cat</R></F>' liste.xml &&
	grep -qF '<F><Q>ours</Q><R></R></F>' liste.xml &&
	grep -qF "<F><Q>a${tab}b</Q><R>c</R></F>" liste.xml &&
	grep -qF '<F><Q>d&#10;e</Q><R>f</R></F>' liste.xml ||
	faute "LibreOffice's quoted cells, TAB-separated: wrong records"
donne "\$mots | ForEach-Object { \$_.Mot + \"\`t\" + \$_.Traduction } | Set-Content liste.txt -Encoding UTF8"
for bom in '\357\273\277' ''; do
	installe && printf "$bom$grec\tHow are you?\r\nfen\303\252tre\twindow\r\n" >liste.txt
	ps51 ./korvum.exe liste.txt liste.xml "$tab"
	grep -qF "<F><Q>$ref</Q><R>How are you?</R></F>" liste.xml &&
		LC_ALL=C grep -qF "$(printf '<F><Q>fen\352tre</Q><R>window')" liste.xml &&
		! [ -s "$dir/erreurs" ] ||
		faute "Set-Content -Encoding UTF8${bom:+ (with a BOM)}: wrong records"
done

# Another sign: between double quotes in cmd, single ones in PowerShell.
grep -qF 'guillemets doubles :  "§"  ou  "|"' "$texte" &&
	grep -qF "apostrophes :  '§'  ou  '|'" "$texte" ||
	faute "the guide no longer gives \"|\" and '|' as examples"
installe && printf 'maison|house\r\n' >liste.txt
tape 'korvum liste.txt liste.xml "|"'
grep -qF "<F><Q>maison</Q><R>house</R></F>" liste.xml || faute 'cmd: "|" failed'
installe && printf 'maison|house\r\n' >liste.txt
ps51 ./korvum.exe liste.txt liste.xml '|'
grep -qF "<F><Q>maison</Q><R>house</R></F>" liste.xml || faute "PowerShell: '|' failed"

# Part 7: messages sent to a file are in code page 850, and type shows them.
l='korvum liste.txt liste.xml ; 2> erreurs.txt'
donne "$l"
installe && cp examples/vocabulaire.txt liste.txt && tape "$l" 'type erreurs.txt'
grep -q "Pas de s$(printf '\202')parateur ligne 13\." erreurs.txt ||
	faute "cmd: $l did not write the message in code page 850"
grep -q 'ligne 13\.' "$dir/sortie" || faute "cmd: type erreurs.txt shows nothing"
grep -q 'ligne' "$dir/erreurs" && faute "cmd: 2> erreurs.txt let a message through"
# korvum alone gives its usage, and status 0.
installe && ps51 ./korvum.exe
grep -q '^Syntaxe' "$dir/erreurs" && [ "$statut" -eq 0 ] ||
	faute "korvum alone: status $statut, $(cat "$dir/erreurs")"
# Part 7 quotes word for word what korvum.exe says alone in its window
# (the console test has it say so).
sed -n "/^korvum s'utilise/,/^Appuyez/p" "$texte" >"$dir/fenetre"
[ "$(wc -l <"$dir/fenetre")" -eq 3 ] ||
	faute "part 7 no longer quotes what korvum.exe says after a double-click"
while IFS= read -r l; do
	LC_ALL=C grep -qaF "$l" "$exe" || faute "korvum.exe does not say: $l"
done <"$dir/fenetre"

# Part 7 quotes what korvum says of a line holding Word's manual line
# break (line 5) and of markup that no reader can read (line 7), and each
# reason it may give: each list below (lines split at |) makes korvum
# give the reason the guide lists in the same place.
installe && printf 'a;b\r\n\r\n<x>\r\n</x>\r\nun\013deux;2\r\n\r\n<i>\r\n' >liste.txt
ps51 ./korvum.exe liste.txt liste.xml ';'
grep '^Ligne [0-9]* : ' "$texte" >"$dir/cites"
iconv -f CP850 -t UTF-8 "$dir/erreurs" | cmp -s - "$dir/cites" ||
	faute "part 7 quotes $(cat "$dir/cites"), korvum says $(iconv -f CP850 -t UTF-8 "$dir/erreurs")"
sed -n '/^Ligne 7 : document illisible/,/^Impossible/s/^      \([^ ]\)/\1/p' \
	"$texte" >"$dir/raisons"
cat >"$dir/fautes" <<'FIN'
<i>
<p>||<i>|</p>
</i>
<i lang=fr>
<i lang="fr"
<i lang="fr" lang="en">
<p>2 < 3</p>
<p>rock & roll</p>
<p>&eacute;</p>
<p>&#1;</p>
<p>]]></p>
<!-- a -- b -->
<!-- note
<![CDATA[ x
<?php
<? x ?>
<?xml version="1.0"?>
<!DOCTYPE liste>
</SOLVARINE>|a;b
</SOLVARINE>
FIN
[ "$(wc -l <"$dir/raisons")" -eq "$(wc -l <"$dir/fautes")" ] ||
	faute "part 7 lists $(wc -l <"$dir/raisons") reasons, this test $(wc -l <"$dir/fautes")"
while IFS= read -r l <&3 && IFS= read -r raison <&4; do
	installe && printf '%s\n' "$l" | tr '|' '\n' | sed 's/$/\r/' >liste.txt
	ps51 ./korvum.exe liste.txt liste.xml ';'
	iconv -f CP850 -t UTF-8 "$dir/erreurs" |
		grep -qxE "Ligne [0-9]+ : document illisible, $(printf '%s' "$raison" |
			sed 's/[][\\.*^$?+(){}|]/\\&/g')\." ||
		faute "part 7 lists \"$raison\"; for $l korvum says $(iconv -f CP850 -t UTF-8 "$dir/erreurs")"
done 3<"$dir/fautes" 4<"$dir/raisons"

# Part 8: the exit status, in a .bat and in PowerShell.
l1='korvum liste.txt liste.xml ;'
l2='if errorlevel 1 echo ECHEC de la conversion de liste.txt'
l3='echo Code de retour : %errorlevel%'
donne "$l1" && donne "$l2" && donne "$l3"
installe && cp examples/vocabulaire.txt liste.txt
printf '%s\r\n' "@echo off" "$l1" "$l2" "$l3" >statut.bat && lance_bat statut.bat
grep -q ECHEC "$dir/sortie" || ! grep -q 'Code de retour : 0' "$dir/sortie" &&
	faute "cmd: a conversion did not leave errorlevel 0: $(cat "$dir/sortie")"
rm liste.txt && lance_bat statut.bat
grep -q 'ECHEC de la conversion de liste.txt' "$dir/sortie" &&
	grep -q 'Code de retour : 1' "$dir/sortie" &&
	grep -q "Impossible d'ouvrir le fichier d'entr" "$dir/erreurs" ||
	faute "cmd: a missing list did not leave errorlevel 1: $(cat "$dir/sortie")"
donne ".\\korvum.exe liste.txt liste.xml ';'" && donne '$LASTEXITCODE'
installe && cp examples/vocabulaire.txt liste.txt
ps51 ./korvum.exe liste.txt liste.xml ';'
[ "$statut" -eq 0 ] || faute "PowerShell: \$LASTEXITCODE $statut after a conversion"
rm liste.txt && ps51 ./korvum.exe liste.txt liste.xml ';'
[ "$statut" -eq 1 ] || faute "PowerShell: \$LASTEXITCODE $statut for a missing list"

# Part 9: every list of a folder, twice over (the second run must not take
# the first one's documents for lists), and nothing outside it.
listes() { # a folder of two lists beside korvum.exe, and the current dir
	installe && cd listes
	cp ../examples/vocabulaire.txt vocabulaire.txt
	cp ../examples/vocabulaire.txt "ma liste.txt"
}
boucle_juste() { # boucle_juste WHAT: each list gave its document, and only that
	for d in vocabulaire.xml "ma liste.xml"; do
		cmp -s "$d" "$src/examples/vocabulaire.xml" || faute "$1: $d is wrong"
	done
	ici=$(LC_ALL=C ls | grep -vx convertir.bat | tr '\n' /)
	[ "$ici" = "ma liste.txt/ma liste.xml/vocabulaire.txt/vocabulaire.xml/" ] ||
		faute "$1: the folder holds $ici"
	haut=$(LC_ALL=C ls .. | tr '\n' /)
	[ "$haut" = "LISEZMOI.txt/examples/korvum.exe/listes/" ] ||
		faute "$1: korvum's folder holds $haut"
}
l='for %f in (*.txt) do ..\korvum "%f" "%~nf.xml" ;'
donne "$l"
listes && tape "$l" && tape "$l" && boucle_juste "cmd: for"
# The .bat of the guide, as it stands there.
sed -n '/^    @echo off$/,/^    pause$/s/^    //p' "$texte" >"$dir/convertir"
donne '@echo off' && donne 'for %%f in (*.txt) do (' && donne 'pause'
listes && sed 's/$/\r/' "$dir/convertir" >convertir.bat
lance_bat convertir.bat && lance_bat convertir.bat
boucle_juste "convertir.bat"
grep -E 'ECHEC|AUCUNE' "$dir/sortie" && faute "convertir.bat: a good list failed"
# It names each list before what korvum says of it, and tells a list
# that failed and one that gave no record (korvum's status is 0 then).
cp vocabulaire.txt bloque.txt && mkdir bloque.xml
printf 'a b\r\nc d\r\n' >vide.txt
"$wine" cmd /c convertir.bat </dev/null >"$dir/sortie" 2>&1 || :
LC_ALL=C tr -d '\r' <"$dir/sortie" | LC_ALL=C awk '
	/\.txt$/ && !/ : / { l = $0 }
	/ligne|sortie!|ECHEC|AUCUNE/ { sub(/s.parateur/, "separateur"); print l ": " $0 }
' | LC_ALL=C sort >"$dir/blocs"
cat >"$dir/attendus" <<'FIN'
bloque.txt: AUCUNE FICHE : bloque.xml
bloque.txt: ECHEC : bloque.txt
bloque.txt: Impossible d'ouvrir le fichier de sortie!
ma liste.txt: Pas de separateur ligne 13.
vide.txt: AUCUNE FICHE : vide.xml
vide.txt: Pas de separateur ligne 1.
vide.txt: Pas de separateur ligne 2.
vocabulaire.txt: Pas de separateur ligne 13.
FIN
cmp -s "$dir/blocs" "$dir/attendus" ||
	faute "convertir.bat: lists and messages: $(cat "$dir/sortie")"
# PowerShell's foreach takes Get-ChildItem's list whole, then for each
# writes $f.Name and runs ..\korvum.exe $f.Name ($f.BaseName + '.xml') ';'.
donne "foreach (\$f in Get-ChildItem *.txt) { \$f.Name; ..\\korvum.exe \$f.Name (\$f.BaseName + '.xml') ';' }"
listes
for i in 1 2; do
	set -- *.txt
	for f; do ps51 ../korvum.exe "$f" "${f%.txt}.xml" ';'; done
done
boucle_juste "PowerShell: foreach"
# A document named like the list is refused, and the lists stay whole.
listes && tape 'for %f in (*.txt) do ..\korvum "%f" "%~nf.txt" ;'
[ "$(grep -c "Le fichier de sortie est le fichier d'entr" "$dir/erreurs")" -eq 2 ] &&
	cmp -s vocabulaire.txt ../examples/vocabulaire.txt ||
	faute "cmd: \"%~nf.txt\" was not refused"

# Every command of the guide was checked.
sort -u "$dir/verifiees" | comm -23 "$dir/commandes" - >"$dir/oubliees"
while IFS= read -r l; do
	faute "the guide gives a command that this test does not check: $l"
done <"$dir/oubliees"
echo "$(sort -u "$dir/verifiees" | wc -l) command lines of the guide checked, $echecs failures"
[ "$echecs" -eq 0 ]
