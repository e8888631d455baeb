// Sources as today's editors save them: UTF-8 with or without its mark,
// UTF-16 in either byte order, and windows-1252. The document is always
// windows-1252: the expected bytes below are windows-1252 (é is \xe9),
// while the sources are written in UTF-8 (é is \xc3\xa9) or UTF-16.
#include "essai.hpp"

#include <string>

using namespace std::string_literals;

// UTF-16 bytes of a text, little- or big-endian, with the mark first.
static std::string
utf16(const std::u16string &t, bool be = false)
{
	std::string s;
	for (char16_t u : u"\ufeff" + t) {
		char hi = char(u >> 8), lo = char(u & 0xff);
		s += be ? std::string{hi, lo} : std::string{lo, hi};
	}
	return s;
}

static const std::string BOM8 = "\xef\xbb\xbf";

TEST_F(Korvum, ByteOrderMarkNamesTheEncoding)
{
	const std::string corps =
	    "<!-- Le\xe7on 1 -->\r\n" + fiche("fen\xeatre", "window");
	const std::u16string t = u"<!-- Leçon 1 -->\r\nfenêtre;window\r\n";
	convertit({
	    {"UTF-8", {";"}, BOM8 + "<!-- Leçon 1 -->\r\nfenêtre;window\r\n",
	        corps, ""},
	    {"UTF-16 little-endian", {";"}, utf16(t), corps, ""},
	    {"UTF-16 big-endian", {";"}, utf16(t, true), corps, ""},
	    {"UTF-8 mark alone", {";"}, BOM8, "", ""},
	    {"UTF-16 mark alone", {";"}, "\xff\xfe", "", ""},
	    // Without its mark, a zero byte in every other place tells
	    // UTF-16, and a letter with a zero on the other side does not hide
	    // it.
	    {"UTF-16 LE without mark, with Ā", {";"},
	        utf16(u"Āb;x\r\nchat;cat\r\n").substr(2),
	        fiche("&#256;b", "x") + fiche("chat", "cat"), ""},
	    {"UTF-16 BE without mark, with 一", {";"},
	        utf16(u"un;一\r\nchat;cat\r\n", true).substr(2),
	        fiche("un", "&#19968;") + fiche("chat", "cat"), ""},
	    {"line numbers start after the mark", {";"},
	        BOM8 + "un\ndeux;two\ntrois\n", fiche("deux", "two"),
	        pasdesepar(1) + pasdesepar(3)},
	    {"numbers in UTF-16", {";"}, utf16(u"\r\nun\r\ndeux;2\r\n", true),
	        fiche("deux", "2"), pasdesepar(2)},
	    {"a mark that starts a line is dropped", {";"},
	        "a;b\n" + BOM8 + "c;d\n" + BOM8 + "<x/>\n",
	        fiche("a", "b") + fiche("c", "d") + "<x/>\r\n", ""},
	    {"... in UTF-16 too", {";"}, utf16(u"a;b\r\n\ufeffc;d\r\n"),
	        fiche("a", "b") + fiche("c", "d"), ""},
	    {"a mark inside a line is text", {";"}, "a;b" + BOM8 + "c\n",
	        fiche("a", "b&#65279;c"), ""},
	});
}

// Without a mark, a source is UTF-8 when the FENETRE bytes from its first
// byte above 127 are well-formed UTF-8, and windows-1252 otherwise. The
// first line tells which: é reads as \xe9 in UTF-8 and stays \xc3\xa9 in
// windows-1252. The probe bytes stand `a` bytes past that first é.
TEST_F(Korvum, UnmarkedSourceIsUtf8WhenItsWindowIsWellFormed)
{
	const size_t W = FENETRE;
	struct {
		const char *quoi;
		size_t a;
		std::string sonde; // bytes at offset a, then ";p"
		bool utf8;
		std::string q; // what the probe's Q becomes
	} cas[] = {
	    {"stray byte at the window's last byte", W - 1, "\xe9", false,
	        "\xe9"},
	    {"stray byte just past the window", W, "\xe9", true, "\xe9"},
	    {"sequence across the window's end", W - 1, "\xe2\x82\xac", true,
	        "\x80"},
	    {"sequence cut inside the window", W - 2, "\xe2\x82", false,
	        "\xe2\x82"},
	    {"overlong form", 100, "\xc0\xaf", false, "\xc0\xaf"},
	    {"overlong three-byte form", 100, "\xe0\x80\xaf", false,
	        "\xe0\x80\xaf"},
	    {"encoded surrogate", 100, "\xed\xa0\x80", false, "\xed\xa0\x80"},
	    {"above U+10FFFF", 100, "\xf4\x90\x80\x80", false,
	        "\xf4&#144;\x80\x80"},
	    {"four-byte sequence", 100, "\xf0\x9f\x98\x80", true, "&#128512;"},
	};
	for (const auto &c : cas) {
		// A comment up to c.a bytes past the first é, "é;e\n<".
		std::string remplissage =
		    "!--" + std::string(c.a - 13, 'c') + "-->";
		convertit({{c.quoi, {";"},
		    "é;e\n<" + remplissage + "\n" + c.sonde + ";p\n",
		    fiche(c.utf8 ? "\xe9" : "\xc3\xa9", "e") + "<" +
		        remplissage + "\r\n" + fiche(c.q, "p"),
		    ""}});
	}

	std::string ascii, balises;
	while (ascii.size() < 1u << 20) {
		ascii += "<" + std::string(97, 'x') + "/>\n";
		balises += "<" + std::string(97, 'x') + "/>\r\n";
	}
	// A line that does not tell (an accented capital, as windows-1252
	// makes it too) is read in UTF-8 when its window holds no line that
	// tells, wherever its first byte above 127 stands in the first read,
	// even though a line past the window tells windows-1252.
	std::vector<Cas> loin;
	for (size_t k : {0, 15, 16, 47, 48, 63, 64, 127}) {
		std::string a(k, 'a');
		loin.push_back({"first byte above 127 at byte " +
		                    std::to_string(k),
		    {";"}, a + "CAF\xc3\x89;x\n" + ascii + "\xe9;y\n",
		    fiche(a + "CAF\xc9", "x") + balises + fiche("\xe9", "y"),
		    ""});
	}
	convertit(loin);
	convertit({
	    {"sequence cut by the end of the source", {";"}, "é;e\xc3",
	        fiche("\xc3\xa9", "e\xc3"), ""},
	    {"first byte above 127 after 1 MiB of ASCII", {";"},
	        ascii + "é;e\n", balises + fiche("\xe9", "e"), ""},
	    {"0x1A ends the window", {";"}, "é;e\n\x1a\xe9", fiche("\xe9", "e"),
	        ""},
	    {"0x1A before the first byte above 127", {";"}, "a;b\n\x1a\xe9",
	        fiche("a", "b"), ""},
	    {"a zero byte in the window is not a stray byte", {";"},
	        "\xc3\xa9;e\0x\n\xc3\xa0;a\n"s,
	        fiche("\xe9", "e") + fiche("\xe0", "a"), ""},
	    {"ASCII only", {";"}, "a;b\n", fiche("a", "b"), ""},
	});
}

// Every character windows-1252 has is its byte; any other is a character
// reference, written once the line was split.
TEST_F(Korvum, CharactersWindows1252LacksAreReferences)
{
	convertit({
	    {"Latin-1 letters", {";"}, "àéîõü ÿ;ÀÉÎÕÜ ß\n",
	        fiche("\xe0\xe9\xee\xf5\xfc \xff", "\xc0\xc9\xce\xd5\xdc \xdf"),
	        ""},
	    {"the 27 of 0x80 to 0x9F", {";"}, "€‚ƒ„…†‡ˆ‰Š‹ŒŽ;‘’“”•–—˜™š›œžŸ\n",
	        fiche("\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8e",
	            "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9a\x9b\x9c\x9e\x9f"),
	        ""},
	    {"no-break space", {";"}, "a\u00a0;c\n", fiche("a\xa0", "c"), ""},
	    {"Greek, Japanese, emoji", {";"}, "Ω;日本 😀\n",
	        fiche("&#937;", "&#26085;&#26412; &#128512;"), ""},
	    {"Polish", {";"}, "słówka;Łódź\n",
	        fiche("s&#322;\xf3wka", "&#321;\xf3"
	                                "d&#378;"),
	        ""},
	    {"C1 controls", {";"}, "\u0080\u0081;\u009d\u009f\n",
	        fiche("&#128;&#129;", "&#157;&#159;"), ""},
	    {"the separator next to a reference", {";"}, "Ω;;Ω\nΩ;\n",
	        fiche("&#937;", ";&#937;") + fiche("&#937;", ""), ""},
	    {"no line is split at a reference's ';'", {""}, "Ω Ω\n",
	        fiche("&#937; &#937;", ""), ""},
	    {"markup", {";"}, "  <!-- Ω € -->  \n",
	        "<!-- &#937; \x80 -->  \r\n", ""},
	    {"UTF-16 outside the BMP", {";"}, utf16(u"😀;\U0010FFFF\r\n"),
	        fiche("&#128512;", "&#1114111;"), ""},
	});
}

// Lists joined from an ANSI list and a UTF-8 one (copy /b a.txt+b.txt):
// each line is read in its own encoding. A line with a byte that belongs
// to no well-formed UTF-8 sequence is windows-1252, whole; a line whose
// only sequences are lone two-byte pairs (CAFÉ… in windows-1252, Ω;omega
// in UTF-8) is read as the nearest line before it that tells, or at the
// start as the first one that does.
TEST_F(Korvum, EachLineIsReadInItsEncoding)
{
	const std::string ansi = "caf\xe9;coffee\n\x9cuvre;work\n";
	const std::string utf8 = "σπίτι;house\ncœur;heart\n";
	const std::string dansansi =
	    fiche("caf\xe9", "coffee") + fiche("\x9cuvre", "work");
	const std::string dansutf8 =
	    fiche("&#963;&#960;&#943;&#964;&#953;", "house") +
	    fiche("c\x9cur", "heart");
	std::string grandansi, grandutf8, corpsansi, corpsutf8;
	for (int i = 0; grandansi.size() <= FENETRE; i++) {
		grandansi += "r\xe9p" + std::to_string(i) + ";x\n";
		corpsansi += fiche("r\xe9p" + std::to_string(i), "x");
		grandutf8 += "répété" + std::to_string(i) + ";y\n";
		corpsutf8 += fiche("r\xe9p\xe9t\xe9" + std::to_string(i), "y");
	}
	// Past the first block, a run of lines that all read as UTF-8 is
	// decoded as it is read; lines read as they would one by one. An
	// ANSI line that ends in the second block comes before each run.
	std::string plein, corpsplein;
	while (plein.size() + grandutf8.size() < BLOC - 100) {
		plein += grandutf8;
		corpsplein += corpsutf8;
	}
	const std::string comble(BLOC - 5 - plein.size() - 8, 'c');
	plein += "<!--" + comble + "-->\ncaf\xe9 au lait;coffee\n";
	corpsplein +=
	    "<!--" + comble + "-->\r\n" + fiche("caf\xe9 au lait", "coffee");
	convertit({
	    {"past a block, a line in doubt after ANSI", {";"},
	        plein + "CAF\xc9\x85;coffee\n" + utf8,
	        corpsplein + fiche("CAF\xc9\x85", "coffee") + dansutf8, ""},
	    {"past a block, a zero byte before UTF-8", {";"},
	        plein + "a;b\0été\nCAF\xc9\x85;coffee\n"s + utf8,
	        corpsplein + fiche("a", "b") + fiche("CAF\xc9\x85", "coffee") +
	            dansutf8,
	        ""},
	    {"past a block, an ANSI line ends a UTF-8 run", {";"},
	        plein + "été;summer\ncaf\xe9;coffee\nCAF\xc9\x85;coffee\n" +
	            utf8,
	        corpsplein + fiche("\xe9t\xe9", "summer") +
	            fiche("caf\xe9", "coffee") +
	            fiche("CAF\xc9\x85", "coffee") + dansutf8,
	        ""},
	    {"past a block, marks in a UTF-8 run", {";"},
	        plein + "été;summer\n" + BOM8 + "cœur;heart\nï»¿x;y\n",
	        corpsplein + fiche("\xe9t\xe9", "summer") +
	            fiche("c\x9cur", "heart") + fiche("\xef\xbb\xbfx", "y"),
	        ""},
	});
	convertit({
	    {"ANSI, then UTF-8", {";"}, ansi + utf8, dansansi + dansutf8, ""},
	    {"UTF-8, then ANSI", {";"}, utf8 + ansi, dansutf8 + dansansi, ""},
	    {"past the window, ANSI first", {";"}, grandansi + utf8 + ansi,
	        corpsansi + dansutf8 + dansansi, ""},
	    {"past the window, UTF-8 first", {";"}, grandutf8 + ansi + utf8,
	        corpsutf8 + dansansi + dansutf8, ""},
	    {"both with their marks", {";"}, BOM8 + utf8 + BOM8 + utf8,
	        dansutf8 + dansutf8, ""},
	    {"an ANSI list after a marked one", {";"}, BOM8 + utf8 + ansi,
	        dansutf8 + dansansi, ""},
	    {"an accented capital before a sign stays ANSI", {";"},
	        "CAF\xc9\x85;coffee\n\xc9T\xc9\xbb;summer\n\xc9glise;church\n"
	        "CAF\xc9\x85;coffee\n",
	        fiche("CAF\xc9\x85", "coffee") +
	            fiche("\xc9T\xc9\xbb", "summer") +
	            fiche("\xc9glise", "church") +
	            fiche("CAF\xc9\x85", "coffee"),
	        ""},
	    {"a row of a UTF-8 line and an ANSI line", {";"},
	        "\"fenêtre\nma\xe7on\x81\";x\n" + utf8,
	        fiche("fen\xeatre&#10;ma\xe7on&#129;", "x") + dansutf8, ""},
	    {"a lone Greek letter first is UTF-8", {";"}, "Ω;omega\n" + utf8,
	        fiche("&#937;", "omega") + dansutf8, ""},
	    {"lines that all doubt are UTF-8", {";"}, "Ω;omega\nà;to\n",
	        fiche("&#937;", "omega") + fiche("\xe0", "to"), ""},
	    {"a windows-1252 line after the window", {";"},
	        "é;e\n<!--" + std::string(69994, 'c') + "-->" +
	            "\ncaf\xe9;coffee\n\x80\x81;\x9f\xff\n",
	        fiche("\xe9", "e") + "<!--" + std::string(69994, 'c') +
	            "-->\r\n" + fiche("caf\xe9", "coffee") +
	            fiche("\x80&#129;", "\x9f\xff"),
	        ""},
	    {"a line in doubt after a marked ANSI one", {";"},
	        ansi + BOM8 + "CAF\xc9\x85;coffee\n",
	        dansansi + fiche("CAF\xc9\x85", "coffee"), ""},
	    {"a zero byte hides what follows it", {";"},
	        utf8 + "b;c\0\xe9x\nCAF\xc9\x85;y\n"s,
	        dansutf8 + fiche("b", "c") + fiche("CAF&#581;", "y"), ""},
	    {"a lead byte without its sequence", {";"},
	        BOM8 + "\xc3;\xe2\x82x\xf0\n", fiche("\xc3", "\xe2\x82x\xf0"),
	        ""},
	    {"a line with a stray byte is ANSI, whole", {";"},
	        BOM8 + "é\xa9;\xbf\n", fiche("\xc3\xa9\xa9", "\xbf"), ""},
	});
}

// The line rules hold for characters, in both byte orders.
TEST_F(Korvum, Utf16LineRules)
{
	const std::u16string t =
	    u"a;b\r\nc;d\re\r\n\r\nf;g\0h\r\n<i/>\0j\r\n k ; l \r\n\x1a"
	    u"m;n\r\n"s;
	const std::string corps = fiche("a", "b") + fiche("c", "d\re") +
	                          fiche("f", "g") + "<i/>" + fiche("k ", " l");
	for (bool be : {false, true})
		convertit({{be ? "big-endian" : "little-endian", {";"},
		    utf16(t, be), corps, ""}});

	std::string impair = utf16(u"a;b");
	impair += 'c';
	convertit({
	    {"an odd last byte", {";"}, impair, fiche("a", "b&#65533;"), ""},
	    {"a lone high surrogate", {";"}, utf16(u"a;\xd800x\r\n"),
	        fiche("a", "&#65533;x"), ""},
	    {"a lone low surrogate", {";"}, utf16(u"a;\xdc00\xd800\r\n", true),
	        fiche("a", "&#65533;&#65533;"), ""},
	    {"a high surrogate at the end", {";"}, utf16(u"a;b\xd83d"),
	        fiche("a", "b&#65533;"), ""},
	    {"a pair", {";"}, utf16(u"a;\xd83d\xde00"), fiche("a", "&#128512;"),
	        ""},
	    {"the last low surrogate alone", {";"}, utf16(u"a;\xdfff\r\n"),
	        fiche("a", "&#65533;"), ""},
	    {"the last high surrogate before a letter", {";"},
	        utf16(u"a;\xdbff"
	              u"b\r\n",
	            true),
	        fiche("a", "&#65533;b"), ""},
	});
}

// The separator is a character, matched in the source whatever its
// encoding.
TEST_F(Korvum, SeparatorIsACharacterInEveryEncoding)
{
	convertit({
	    {"§ in windows-1252", {"§"}, "ma\xe7on\xa7mason\n",
	        fiche("ma\xe7on", "mason"), ""},
	    {"§ in UTF-8", {"§"}, "maçon§mason\n", fiche("ma\xe7on", "mason"),
	        ""},
	    {"§ in UTF-8 does not split ç", {"§"}, "ça;that\n", "",
	        pasdesepar(1)},
	    {"§ in an ANSI line of a UTF-8 list", {"§"},
	        BOM8 + "ma\xe7on\xa7mason\n", fiche("ma\xe7on", "mason"), ""},
	    {"§ in UTF-16", {"§"}, utf16(u"maçon§mason\r\n", true),
	        fiche("ma\xe7on", "mason"), ""},
	    {"¤ and é", {"¤"}, "é¤e\n", fiche("\xe9", "e"), ""},
	    {"a separator of two bytes in UTF-8", {"é"}, "aéb\n",
	        fiche("a", "b"), ""},
	    {"outside windows-1252, in UTF-8", {"Ω"}, "aΩb\n", fiche("a", "b"),
	        ""},
	    {"outside windows-1252, in windows-1252: never found", {"Ω"},
	        "a\xe9"
	        "b\n",
	        "", pasdesepar(1)},
	    {"an emoji", {"😀"}, utf16(u"a😀b😀c\r\n"), fiche("a", "b&#128512;c"),
	        ""},
	    {"empty in UTF-8", {""}, "Ω x;y  \n", fiche("&#937; x;y", ""), ""},
	    {"empty in UTF-16", {""}, utf16(u" é;f \r\n"), fiche("\xe9;f", ""),
	        ""},
	});
}

// The encoding, and so the document, does not depend on how the reads are
// cut: a pipe may hand the source over a byte at a time.
TEST_F(Korvum, ReadsCutAnywhereGiveTheSameDocument)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	// Lines that put the next byte n bytes past the first é.
	auto fenetre = [](size_t n) {
		return "é;e\n<" + std::string(n - 7, '-') + "\n";
	};
	const std::string sources[] = {
	    BOM8 + "<!-- Leçon -->\nfenêtre;window\n😀;x\n",
	    utf16(u"<!-- Leçon -->\r\n😀;\xd83d\r\nfenêtre;w\r\n"),
	    utf16(u"a;😀\r\nb;c", true) + "d",
	    fenetre(FENETRE - 1) +
	        "\xe2\x82\xac;p\n",        // across the window's end
	    fenetre(FENETRE) + "\xe9;p\n", // a stray byte past it
	    "abc;d\nxyz\n" + fenetre(100), // ASCII lines first
	    "ma\xe7on;mason\n",            // windows-1252
	};
	for (const auto &s : sources) {
		ecris("source.txt", s);
		Issue entier = lance({"source.txt", "but.xml", ";"});
		std::string attendu = lis("but.xml");
		for (const char *n : {"1", "2", "3", "7"}) {
			SCOPED_TRACE(s.substr(0, 20) + "... read " + n +
			             " bytes at a time");
			Panne p;
			p.env = {"LD_PRELOAD="s + KORVUM_PANNE,
			    "KORVUM_PANNE_MORCEAU="s + n};
			Issue r = lance({"source.txt", "but.xml", ";"}, p);
			EXPECT_EQ(r.statut, 0);
			EXPECT_EQ(r.err, entier.err);
			EXPECT_EQ(lis("but.xml"), attendu);
		}
	}
#endif
}

// Latin-1 letters are decoded eight and sixteen bytes at a time: each at
// every offset of a line, alone, in pairs and in runs, beside characters
// that are not Latin-1 letters.
TEST_F(Korvum, Utf8LettersAtEveryOffset)
{
	struct {
		std::string utf8, cp1252;
	} lettres[] = {{"é", "\xe9"}, {"À", "\xc0"}, {"ÿ", "\xff"},
	    {"«", "\xab"}, {"\u00a0", "\xa0"}, {"\u0085", "&#133;"},
	    {"€", "\x80"}, {"éé", "\xe9\xe9"},
	    {"àéîõü", "\xe0\xe9\xee\xf5\xfc"}};
	std::string source, corps;
	for (const auto &l : lettres)
		for (size_t i = 0; i < 40; i++) {
			std::string a(i, 'a'), b(i % 7, 'b'), c(i % 5, 'c');
			source +=
			    a + l.utf8 + b + l.utf8 + ";" + l.utf8 + c + "\n";
			corps +=
			    fiche(a + l.cp1252 + b + l.cp1252, l.cp1252 + c);
		}
	std::vector<Cas> cas = {{"letters", {";"}, source, corps, ""},
	    {"letters after a mark", {";"}, BOM8 + source, corps, ""}};
	// Sources that end at every offset of the steps, so that the last
	// step has every length from 1 to 16 bytes.
	for (size_t n = 0; n < 40; n++)
		cas.push_back({"a source of " + std::to_string(n + 3) +
		                   " bytes after its mark",
		    {";"}, BOM8 + "é;" + std::string(n, 'a'),
		    fiche("\xe9", std::string(n, 'a')), ""});
	convertit(cas);
}

// Lists as a spreadsheet saves them, in each encoding it saves them in: an
// empty last cell after a TAB keeps its record, and a cell the
// spreadsheet quoted (it holds the separator or a quote, or every cell is
// quoted) reads as the cell; quotes a person typed stay as typed.
TEST_F(Korvum, SpreadsheetCellsInEveryEncoding)
{
	struct Ligne {
		std::string quoi, separ;
		std::u16string source;
		std::string corps, err; // windows-1252
	};
	const std::vector<Ligne> lignes = {
	    {"a separator inside the quotes", ";", u"\"porte; fenêtre\";door",
	        fiche("porte; fen\xeatre", "door"), ""},
	    {"doubled quotes", ";", u"\"Il dit \"\"oui\"\"\";yes",
	        fiche("Il dit \"oui\"", "yes"), ""},
	    {"R quoted", ";", u"manzana;\"Es una fruta; las hay verdes...\"",
	        fiche("manzana", "Es una fruta; las hay verdes..."), ""},
	    {"every cell quoted", ";", u"\"chat\";\"cat\"",
	        fiche("chat", "cat"), ""},
	    {"every cell quoted, the last empty", ";", u"\"ours\";",
	        fiche("ours", ""), ""},
	    {"one cell that holds the separator", ";", u"\"a;b\"",
	        fiche("a;b", ""), ""},
	    {"blanks before the cell, after the line", ";", u"  \"a;b\";c  ",
	        fiche("a;b", "c"), ""},
	    {"a blank between the cell and the separator", ";", u"\"a;b\" ;c",
	        fiche("\"a", "b\" ;c"), ""},
	    {"\"\" alone is typed", ";", u"\"\";x", fiche("\"\"", "x"), ""},
	    {"a cell of one quote", ";", u"\"\"\"\";x", fiche("\"", "x"), ""},
	    {"a quoted third cell stays in R as typed", ";", u"a;\"b;c\";d",
	        fiche("a", "\"b;c\";d"), ""},
	    {"a title typed in quotes", ";", u"\"To be or not to be\";Hamlet",
	        fiche("\"To be or not to be\"", "Hamlet"), ""},
	    {"quotes within the text", ";", u"\"Le Chat\" est un film;x",
	        fiche("\"Le Chat\" est un film", "x"), ""},
	    {"quotes in both fields", ";", u"il dit \"oui\";he says \"yes\"",
	        fiche("il dit \"oui\"", "he says \"yes\""), ""},
	    {"a lone quote", ";", u"\";x", fiche("\"", "x"), ""},
	    {"quotes that do not close", ";", u"\"abc;x", fiche("\"abc", "x"),
	        ""},
	    {"the separator is a quote", "\"", u"\"a\"\"b\"",
	        fiche("", "a\"\"b\""), ""},
	    {"signs in a quoted cell", ";", u"\"x < y; z\";vrai",
	        fiche("x &lt; y; z", "vrai"), ""},
	    {"an empty last cell after a TAB", "\t", u"ours\t",
	        fiche("ours", ""), ""},
	    {"TAB-separated, blanks after R cut", "\t", u"a\tb\t",
	        fiche("a", "b"), ""},
	    {"a TAB-separated quoted cell", "\t", u"\"a\tb\"\t\"c\"",
	        fiche("a\tb", "c"), ""},
	    {"a space separator is cut first", " ", u"abc  ", "",
	        pasdesepar(1)},
	    {"a cell over two lines, as Excel writes it", ";",
	        u"\"fenêtre\nouverte\";window\r\nchat;cat",
	        fiche("fen\xeatre&#10;ouverte", "window") +
	            fiche("chat", "cat"),
	        ""},
	    {"an R over lines, as LibreOffice writes it", ";",
	        u"manzana;\"una fruta\nverde\"\nchat;cat",
	        fiche("manzana", "una fruta&#10;verde") + fiche("chat", "cat"),
	        ""},
	    {"both cells over lines, one line empty", ";",
	        u"\"a\n\nb\";\"c\nd\"", fiche("a&#10;&#10;b", "c&#10;d"), ""},
	    {"a cell alone over lines, then numbered lines", ";",
	        u"\"a\nb\"\nsans\nx;y", fiche("a&#10;b", "") + fiche("x", "y"),
	        pasdesepar(3)},
	    {"a cell over lines, TAB-separated", "\t", u"\"a\nb\"\tc\t",
	        fiche("a&#10;b", "c"), ""},
	    {"a cell over lines that closes before text is typed", ";",
	        u"\"a\nb\" c;d", fiche("b\" c", "d"), pasdesepar(1)},
	    {"a quote that never closes takes no line", ";", u"\"ouvert;x\nb;c",
	        fiche("\"ouvert", "x") + fiche("b", "c"), ""},
	};
	// A row of RANGEE lines is one record; with a line more, every line
	// is typed.
	static_assert(RANGEE < 9, "the lines below are numbered by a digit");
	std::vector<Ligne> rangees = lignes;
	std::u16string cellule = u"\"1";
	std::string corps = "1", err = pasdesepar(1);
	for (size_t i = 2; i <= RANGEE; i++) {
		cellule += u"\n" + std::u16string(1, char16_t(u'0' + i));
		corps += "&#10;" + std::to_string(i);
		err += pasdesepar((int)i);
	}
	rangees.push_back({"a cell over as many lines as a row takes", ";",
	    cellule + u"\";x", fiche(corps, "x"), ""});
	rangees.push_back({"a cell over a line more than a row takes", ";",
	    cellule + u"\n9\";x", fiche("9\"", "x"), err});
	// Among plain lines, which go by runs, the lines of a row wait for it.
	std::u16string plaines = u"\"a\nb\nc\nd\";x";
	std::string fiches = fiche("a&#10;b&#10;c&#10;d", "x");
	for (int i = 0; i < 100; i++) {
		plaines = u"chat;cat\n" + plaines + u"\nchien;dog";
		fiches = fiche("chat", "cat") + fiches + fiche("chien", "dog");
	}
	rangees.push_back(
	    {"a row among plain lines", ";", plaines, fiches, ""});
	auto cp1252 = [](const std::u16string &t) {
		std::string s;
		for (char16_t u : t)
			s += char(u);
		return s;
	};
	auto utf8 = [](const std::u16string &t) {
		std::string s;
		for (char16_t u : t)
			if (u < 0x80)
				s += char(u);
			else
				s += {char(0xc0 | u >> 6),
				    char(0x80 | (u & 0x3f))};
		return s;
	};
	for (const auto &l : rangees) {
		const std::u16string t = l.source + u"\r\n";
		const std::vector<std::pair<std::string, std::string>> codages =
		    {{"windows-1252", cp1252(t)}, {"UTF-8", utf8(t)},
		        {"UTF-8 with its mark", BOM8 + utf8(t)},
		        {"UTF-16", utf16(t)},
		        {"UTF-16 big-endian", utf16(t, true)}};
		for (const auto &[nom, source] : codages)
			convertit({{l.quoi + ", " + nom, {l.separ}, source,
			    l.corps, l.err}});
	}
}
