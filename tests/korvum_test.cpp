// korvum as its users run it: a source file and a command line in; the
// document's bytes, standard error's bytes and the exit status out.
#include "essai.hpp"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace std::string_literals;

TEST_F(Korvum, UsageWithFewerThanTwoArguments)
{
	ecris("seul", "a b\n");
	for (const auto &args :
	    std::vector<std::vector<std::string>>{{}, {"seul"}}) {
		Issue r = lance(args);
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, USAGE);
		EXPECT_EQ(contenu("."), std::vector<std::string>{"seul"});
		EXPECT_EQ(lis("seul"), "a b\n");
	}
}

TEST_F(Korvum, DefaultSeparatorIsTheSpace)
{
	convertit({
	    {"one space", {}, "abc def\n", fiche("abc", "def"), ""},
	    {"later spaces stay in R", {}, "abc   def\n", fiche("abc", "  def"),
	        ""},
	    {"a TAB does not split", {}, "abc\tdef\n", "", pasdesepar(1)},
	    {"trailing spaces are cut first", {}, "abc\nabc   \n", "",
	        pasdesepar(1) + pasdesepar(2)},
	    {"leading blanks dropped", {}, " \t un deux trois \t\n",
	        fiche("un", "deux trois"), ""},
	});
}

TEST_F(Korvum, SeparatorArgument)
{
	convertit({
	    {"trimmed both ends", {";"}, "  chat;cat  \n", fiche("chat", "cat"),
	        ""},
	    {"blanks next to it stay", {";"}, "chat ; cat\n",
	        fiche("chat ", " cat"), ""},
	    {"only the first splits", {";"}, "a;b;c\n", fiche("a", "b;c"), ""},
	    {"empty R", {";"}, "a;\n", fiche("a", ""), ""},
	    {"empty Q", {";"}, ";b\n", fiche("", "b"), ""},
	    {"both empty", {";"}, ";\n", fiche("", ""), ""},
	    {"first byte of a longer argument", {"=>"}, "a=>b\n",
	        fiche("a", ">b"), ""},
	    {"a fourth argument changes nothing", {";", "x"}, "a;b x\n",
	        fiche("a", "b x"), ""},
	    {"TAB", {"\t"}, "a\tb c\n", fiche("a", "b c"), ""},
	    {"a TAB that ends the line is an empty last cell", {"\t"}, "a\t\n",
	        fiche("a", ""), ""},
	    {"LF, which ends every line, splits none", {"\n"}, "\n!;\nb \n!;\n",
	        "", pasdesepar(2) + pasdesepar(3) + pasdesepar(4)},
	    {"byte above 127", {"\xa4"},
	        "caf\xe9\xa4"
	        "coffee\n",
	        fiche("caf\xe9", "coffee"), ""},
	    {"'<' makes markup of a leading separator", {"<"}, "<b\na<b\n",
	        "<b\r\n" + fiche("a", "b"),
	        illisible(1, "balise <b inachev" EAIGU "e")},
	    {"a bare & is escaped, markup stays", {";"},
	        "R&D;<b>\"x\"</b> 'y'\n", fiche("R&amp;D", "<b>\"x\"</b> 'y'"),
	        ""},
	});
}

// What XML cannot hold as it stands is written so that a reader reads what
// the user typed; markup the user wrote on purpose stays, and where it
// leaves the document unreadable, korvum says where and why.
TEST_F(Korvum, EveryDocumentReadsAsTyped)
{
	const std::string utf8 = "\xef\xbb\xbf";
	convertit({
	    {"a bare &", {";"}, "A & R man;R&D\n",
	        fiche("A &amp; R man", "R&amp;D"), ""},
	    {"signs that end a field", {";"}, "Tom &;Jerry <\n",
	        fiche("Tom &amp;", "Jerry &lt;"), ""},
	    {"a bare & in Greek", {";"},
	        utf8 + "\xcf\x84\xce\xbf &;le signe &\n",
	        fiche("&#964;&#959; &amp;", "le signe &amp;"), ""},
	    {"references a reader resolves stay", {"\t"},
	        "&amp; &lt;&#233;&#xE9;\t&eacute; &#0; &#x110000; &amp\n",
	        fiche("&amp; &lt;&#233;&#xE9;",
	            "&amp;eacute; &amp;#0; &amp;#x110000; &amp;amp"),
	        ""},
	    {"a maths quiz", {";"}, "2 < 3;vrai\nx <= y;a<b\nc\x9cur;<3\n",
	        fiche("2 &lt; 3", "vrai") + fiche("x &lt;= y", "a&lt;b") +
	            fiche("c\x9cur", "&lt;3"),
	        ""},
	    {"markup a field completes stays", {";"},
	        "le <b>chat</b>;<i lang=\"fr\">x</i><br/> <!-- n -->\n",
	        fiche("le <b>chat</b>", "<i lang=\"fr\">x</i><br/> <!-- n -->"),
	        ""},
	    {"markup a field does not complete is text", {";"},
	        "<b;<i lang=fr> <!-- n <?x\n", "<b;<i lang=fr> <!-- n <?x\r\n",
	        illisible(1, "balise <b> mal form" EAIGU "e")},
	    {"... in a field", {";"}, "a;<i lang=fr> <!-- n <?x <\n",
	        fiche("a", "&lt;i lang=fr> &lt;!-- n &lt;?x &lt;"), ""},
	    {"a sign before a zero byte", {";"}, "x;a<b\0<z\n"s,
	        fiche("x", "a&lt;b"), ""},
	    {"]]> ends no CDATA section", {";"}, "a]]>;b\n",
	        fiche("a]]&gt;", "b"), ""},
	    {"Word's manual line break", {";"},
	        "un\x0b"
	        "deux;x\n",
	        fiche("un&#65533;deux", "x"), interdit(1)},
	    {"controls in markup and U+FFFF", {";"},
	        utf8 + "<!-- a\x01 -->\n\xef\xbf\xbf;\xef\xbf\xbe\n",
	        "<!-- a&#65533; -->\r\n" + fiche("&#65533;", "&#65533;"),
	        interdit(1) + interdit(2)},
	    {"windows-1252's unassigned bytes", {";"},
	        "caf\x81;\x8d\x8f\x90\x9d\n<a t=\"\x81\"/>\n",
	        fiche("caf&#129;", "&#141;&#143;&#144;&#157;") +
	            "<a t=\"&#129;\"/>\r\n",
	        ""},
	    {"an element opened in Q and closed in R", {";"},
	        "le <b>chat;the cat</b>\n", fiche("le <b>chat", "the cat</b>"),
	        illisible(1, nonfermee("b"))},
	    {"an element closed that no line opened", {";"}, "<i>\na;b\n</b>\n",
	        "<i>\r\n" + fiche("a", "b") + "</b>\r\n",
	        illisible(3, "balise </b> sans balise ouvrante")},
	    {"an element left open, closed by its parent", {";"},
	        "<i>\n<b>\n</i>\n", "<i>\r\n<b>\r\n</i>\r\n",
	        illisible(3, "balise <b> de la ligne 2 non ferm" EAIGU "e")},
	    {"an element never closed", {";"}, "<groupe>\na;b\n",
	        "<groupe>\r\n" + fiche("a", "b"),
	        illisible(1, nonfermee("groupe"))},
	    {"a comment never closed", {";"}, "a;b\n<!-- note\nc;d\n",
	        fiche("a", "b") + "<!-- note\r\n" + fiche("c", "d"),
	        illisible(2, "commentaire non ferm" EAIGU)},
	    {"a comment over lines", {";"}, "<!-- a\nc;d\n<x -->\n",
	        "<!-- a\r\n" + fiche("c", "d") + "<x -->\r\n", ""},
	    {"-- in a comment", {";"}, "<!-- a -- b -->\n",
	        "<!-- a -- b -->\r\n", illisible(1, "-- dans un commentaire")},
	    {"a second declaration", {";"}, "<?xml version=\"1.0\"?>\n",
	        "<?xml version=\"1.0\"?>\r\n",
	        illisible(1, "d" EAIGU "claration <?xml ?> en trop")},
	    {"a DOCTYPE", {";"}, "<!DOCTYPE liste>\n", "<!DOCTYPE liste>\r\n",
	        illisible(1, "d" EAIGU "claration <!...> interdite dans le "
	                     "document")},
	    {"a bare & in markup", {";"}, "<p>Tom & Jerry</p>\n",
	        "<p>Tom & Jerry</p>\r\n",
	        illisible(1, "caract" EGRAVE "re & seul (" AGRAVE " " EAIGU
	                     "crire &amp;)")},
	    {"an attribute twice", {";"}, "<a b=\"1\" b=\"2\"/>\n",
	        "<a b=\"1\" b=\"2\"/>\r\n",
	        illisible(1, "attribut b en double")},
	    {"records after the root is closed", {";"}, "</SOLVARINE>\na;b\n",
	        "</SOLVARINE>\r\n" + fiche("a", "b"),
	        illisible(2, "texte apr" EGRAVE "s la balise </SOLVARINE>")},
	});
}

// korvum looks for the separator many bytes a step and copies the fields
// likewise: the separator at every offset of Q from 0 to 130 bytes, and R
// of every length from 130 to 0.
TEST_F(Korvum, SeparatorAtEveryOffset)
{
	std::string source, corps;
	for (size_t n = 0; n <= 130; n++) {
		std::string q(n, 'q'), r(130 - n, 'r');
		source += q + ";" + r + "\n";
		corps += fiche(q, r);
	}
	convertit({{"every offset", {";"}, source, corps, ""}});
}

TEST_F(Korvum, EmptySeparatorArgumentMakesOneField)
{
	convertit({
	    {"whole trimmed line in Q", {""}, "  un deux ; trois  \n",
	        fiche("un deux ; trois", ""), ""},
	    {"no line is reported", {""}, "x\n\ny z\n",
	        fiche("x", "") + fiche("y z", ""), ""},
	});
}

TEST_F(Korvum, MarkupBlankAndReportedLines)
{
	convertit({
	    {"markup keeps trailing blanks", {";"}, "  <!-- note -->  \n",
	        "<!-- note -->  \r\n", ""},
	    {"markup is never split", {";"}, "<a;b>\n", "<a;b>\r\n",
	        illisible(1, "balise <a> mal form" EAIGU "e")},
	    {"blank lines count", {";"}, "\n \t \nabc\n", "", pasdesepar(3)},
	    {"order of the source kept", {";"},
	        "<liste>\n a;b\n\n<!-- x -->\nc;d\n</liste>\n",
	        "<liste>\r\n" + fiche("a", "b") + "<!-- x -->\r\n" +
	            fiche("c", "d") + "</liste>\r\n",
	        ""},
	    {"last record without LF", {";"}, "a;b", fiche("a", "b"), ""},
	    {"last markup without LF meets the closing tag", {";"}, "<fin/>",
	        "<fin/>", ""},
	    {"last reported line without LF", {";"}, "a;b\nc", fiche("a", "b"),
	        pasdesepar(2)},
	    {"only markup", {";"}, "<a>\n\t<b/>\n", "<a>\r\n<b/>\r\n",
	        illisible(1, nonfermee("a"))},
	    {"no line holds the separator", {";"}, "x\ny\n", "",
	        pasdesepar(1) + pasdesepar(2)},
	    {"empty source", {";"}, "", "", ""},
	});
}

// The source is read as a Windows text stream reads it, on every platform.
TEST_F(Korvum, WindowsTextStreamRules)
{
	// 0x1A is looked for up to 256 bytes a step: one in each of a
	// step's vectors, and in the steps after.
	for (size_t k : {31, 100, 231, 255, 300, 1000})
		convertit({{"0x1A after " + std::to_string(k) + " bytes", {";"},
		    "a;b\n" + std::string(k - 4, 'x') + "\x1a" + "c;d\n",
		    fiche("a", "b"), pasdesepar(2)}});
	convertit({
	    {"CR LF is a line end", {";"}, "a;b\r\nc;d\r\n",
	        fiche("a", "b") + fiche("c", "d"), ""},
	    {"a lone CR stays", {";"}, "a;b\rc\n", fiche("a", "b\rc"), ""},
	    {"CRs before LF are part of the line end", {";"},
	        "a;b\r\r\nc;d\r\r\r\n", fiche("a", "b") + fiche("c", "d"), ""},
	    {"a source of CR line ends", {";"}, "a;b\r\r <x/>\rsans\rc;d\r",
	        fiche("a", "b") + "<x/>\r\n" + fiche("c", "d"), pasdesepar(4)},
	    {"a CR LF in it is one line end", {";"},
	        "a;b\r" + std::string(FENETRE, ' ') + "\r\nc;d\nsans\r",
	        fiche("a", "b") + fiche("c", "d"), pasdesepar(4)},
	    {"CR at the end of the source", {";"}, "a;b\r", fiche("a", "b"),
	        ""},
	    {"CR is not a blank", {";"}, "a;b\r \n", fiche("a", "b\r"), ""},
	    {"CR LF blank line", {";"}, "\r\n \r\nx\r\n", "", pasdesepar(3)},
	    {"markup with CR LF", {";"}, " <x/> \r\n", "<x/> \r\n", ""},
	    {"markup ending in a lone CR", {";"}, "<x/>\r", "<x/>\r\n", ""},
	    {"0x1A ends the source", {";"},
	        "a;b\n\x1a"
	        "c;d\n",
	        fiche("a", "b"), ""},
	    {"0x1A inside a line", {";"}, "a;b\x1a;c\nd;e\n", fiche("a", "b"),
	        ""},
	    {"0x1A first", {";"},
	        "\x1a"
	        "a;b\n",
	        "", ""},
	    {"0x1A between CR and LF", {";"}, "a;b\r\x1a\n", fiche("a", "b"),
	        ""},
	    {"0x1A in the second read block", {";"},
	        std::string(BLOC - 1, '\n') + "a;b\n\x1a"
	                                      "c;d\n",
	        fiche("a", "b"), ""},
	    {"0x1A first in the second read block", {";"},
	        std::string(BLOC, '\n') + "\x1a"
	                                  "c;d\n",
	        "", ""},
	});
}

// A zero byte ends the text of its line; the line still ends at its LF.
TEST_F(Korvum, ZeroByteEndsTheLineText)
{
	convertit({
	    {"after the separator", {";"}, "a;b\0c;d\ne;f\n"s,
	        fiche("a", "b") + fiche("e", "f"), ""},
	    {"before the separator", {";"}, "a\0;b\nc\n"s, "",
	        pasdesepar(1) + pasdesepar(2)},
	    {"in markup, which loses its LF", {";"}, "<x/>\0y\nc;d\n"s,
	        "<x/>" + fiche("c", "d"), ""},
	    {"first byte", {";"}, "\0a;b\nc\n"s, "", pasdesepar(2)},
	    {"after a CR", {";"}, "a;b\r\0\n"s, fiche("a", "b\r"), ""},
	    {"several in one block", {";"}, "a;1\0x\nb;2\0\0\nc;3\n"s,
	        fiche("a", "1") + fiche("b", "2") + fiche("c", "3"), ""},
	});
}

// Physical lines are handled whole, however long, and keep their numbers.
TEST_F(Korvum, LongLines)
{
	std::string q(200000, 'q'), r(300000, 'r'), m(1020, 'm');
	convertit({
	    {"1500 bytes without separator", {";"},
	        std::string(1500, 'x') + "\na;b\nc\n", fiche("a", "b"),
	        pasdesepar(1) + pasdesepar(3)},
	    {"markup of 1023 bytes keeps its LF", {";"}, "<" + m + "/>\nz\n",
	        "<" + m + "/>\r\n", pasdesepar(2)},
	    {"fields larger than the buffers", {";"}, q + ";" + r + "\r\nz\n",
	        fiche(q, r), pasdesepar(2)},
	    {"a megabyte of markup without LF", {";"},
	        "<!--" + std::string((1 << 20) - 6, 'c') + "-->",
	        "<!--" + std::string((1 << 20) - 6, 'c') + "-->", ""},
	});
}

// The document's output buffer (TAILLEDOC) filled by its first line, a markup
// line or a record, to a byte short of its size, to its size and past
// it; the lines after fill it more than once again.
TEST_F(Korvum, OutputBufferEdges)
{
	const size_t avant = document("").rfind('<');
	std::string suite, corps;
	for (int i = 0; i < 8000; i++) {
		std::string n = std::to_string(i);
		suite += "q;" + n + "\n<m" + n + "/>\n";
		corps += fiche("q", n) + "<m" + n + "/>\r\n";
	}
	std::vector<Cas> cas;
	for (int d = -1; d <= 3; d++) {
		std::string m = "<!--" +
		                std::string(TAILLEDOC + d - avant - 9, 'c') +
		                "-->";
		std::string r(
		    TAILLEDOC + d - avant - fiche("q", "").size(), 'r');
		std::string de = " to its size " + std::to_string(d);
		cas.push_back({"markup" + de, {";"}, m + "\n" + suite,
		    m + "\r\n" + corps, ""});
		cas.push_back({"record" + de, {";"}, "q;" + r + "\n" + suite,
		    fiche("q", r) + corps, ""});
	}
	convertit(cas);
}

// Lines of every length across the source, so that line ends, CR LF pairs
// and zero bytes fall on every offset of the blocks korvum reads and
// sweeps.
TEST_F(Korvum, LinesAcrossBlockBoundaries)
{
	std::string source, corps;
	for (int i = 0; source.size() < 3u << 20; i++) {
		std::string q = "q" + std::to_string(i);
		std::string r(size_t(i * 7919 % 1531), char('a' + i % 26));
		std::string fin = i % 3 == 0 ? "\r\n" : "\n";
		if (i % 5 == 0) {
			source += "  " + q + ";" + r + " \t" + fin;
			corps += fiche(q, r);
		} else if (i % 5 == 1) {
			source += " <" + q + r + "/>" + fin;
			corps += "<" + q + r + "/>\r\n";
		} else if (i % 5 == 2) {
			source += q + ";" + r + "\0"s + r + fin;
			corps += fiche(q, r);
		} else if (i % 5 == 3) { // signs either side of a block's end
			std::string a(size_t(i % 61), 'a');
			source += q + "&" + a + "<b>x</b>;<" + a + "]]>" + fin;
			corps += fiche(q + "&amp;" + a + "<b>x</b>",
			    "&lt;" + a + "]]&gt;");
		} else {
			source += q + ";" + r + fin;
			corps += fiche(q, r);
		}
	}
	std::vector<Cas> cas = {{"three megabytes", {";"}, source, corps, ""}};
	// Records and markup lines that end on the last byte of each block
	// swept, and of each run of blocks swept in one go, or a byte either
	// side.
	for (size_t n : {63, 64, 65}) {
		std::string r(n - 3, 'r'),
		    m = "<" + std::string(n - 4, 'm') + "/>";
		source = corps = "";
		while (source.size() < 2 * BLOC) {
			source += "q;" + r + "\n" + m + "\n";
			corps += fiche("q", r) + m + "\r\n";
		}
		cas.push_back({"lines of " + std::to_string(n) + " bytes",
		    {";"}, source, corps, ""});
	}
	convertit(cas);
}

// Read blocks (BLOC) that end on every offset of a 64-byte stretch,
// in the middle of a line or right after its LF, with old lines in the
// buffer past the end; a CR LF and zero bytes on either side of a block's
// end; and a line longer than the read buffer that begins past its
// middle, so that it is moved to the front and the buffer grows.
TEST_F(Korvum, ReadBlockEdges)
{
	const std::string l = "<!--" + std::string(24, 'c') + "-->";
	std::string avant, corps; // a block but its last 32 bytes
	while (avant.size() < BLOC - 32) {
		avant += l + "\n";
		corps += l + "\r\n";
	}
	std::vector<Cas> cas;
	for (size_t j = 0; j <= 64; j++) {
		// The last line begins 32 bytes before the block's end and
		// ends j bytes past it, with its LF when j is even.
		std::string m = "<" + std::string(28 + j + j % 2, 'x') + "/>";
		bool lf = j % 2 == 0;
		cas.push_back({"j = " + std::to_string(j), {";"},
		    avant + m + (lf ? "\n" : ""),
		    corps + m + (lf ? "\r\n" : ""), ""});
	}
	std::string r29(29, 'r'), r30(30, 'r');
	std::string suite = "z;y\n", fin = fiche("z", "y");
	cas.push_back(
	    {"CR last, LF first", {";"}, avant + "q;" + r29 + "\r\n" + suite,
	        corps + fiche("q", r29) + fin, ""});
	cas.push_back(
	    {"zero byte last", {";"}, avant + "q;" + r29 + "\0x\n"s + suite,
	        corps + fiche("q", r29) + fin, ""});
	cas.push_back(
	    {"zero byte first", {";"}, avant + "q;" + r30 + "\0x\n"s + suite,
	        corps + fiche("q", r30) + fin, ""});

	// Lines over blocks 0 to 1/4, 1/4 to 3/2 and 3/2 to 7/2 of the source:
	// the third begins 5/4 blocks into the read buffer.
	std::string a = "<" + std::string(BLOC / 4 - 4, 'a') + "/>";
	std::string b(BLOC * 5 / 4 - 3, 'b'), c(2 * BLOC - 3, 'c');
	cas.push_back({"long line past the middle", {";"},
	    a + "\n" + "q;" + b + "\n" + "r;" + c + "\n" + suite,
	    a + "\r\n" + fiche("q", b) + fiche("r", c) + fin, ""});
	convertit(cas);
}

TEST_F(Korvum, SourceThatCannotBeOpened)
{
	std::filesystem::create_directory("dossier");
	for (std::string source : {"absent.txt", "dossier"}) {
		SCOPED_TRACE(source);
		Issue r = lance({source, "absent.xml"});
		EXPECT_EQ(r.statut, 1);
		EXPECT_EQ(r.err, attendu(OUVRIRENTREE));
		EXPECT_FALSE(existe("absent.xml"));

		ecris("garde.xml", "contenu");
		r = lance({source, "garde.xml", ";"});
		EXPECT_EQ(r.statut, 1);
		EXPECT_EQ(r.err, attendu(OUVRIRENTREE));
		EXPECT_EQ(lis("garde.xml"), "contenu");
	}
}

TEST_F(Korvum, TargetThatCannotBeOpened)
{
	ecris("source.txt", "a b\n");
	std::filesystem::create_directory("dossier");
	std::vector<std::string> buts = {"nulle/part.xml", "dossier"};
#ifndef _WIN32
	// A loop of links, and a dangling link whose folder is not there.
	std::filesystem::create_symlink("boucle.xml", "boucle.xml");
	std::filesystem::create_symlink("nulle/part.xml", "perdu.xml");
	buts.push_back("boucle.xml");
	buts.push_back("perdu.xml");
#endif
#ifdef _WIN32
	// A read-only document, and one that another program holds open
	// without sharing it: both keep every byte.
	const std::string hier = document(fiche("hier", "yesterday"));
	ecris("lecture.xml", hier);
	SetFileAttributesA("lecture.xml", FILE_ATTRIBUTE_READONLY);
	ecris("tenu.xml", hier);
	HANDLE tenu = CreateFileA("tenu.xml", GENERIC_READ, 0, nullptr,
	    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	ASSERT_NE(tenu, INVALID_HANDLE_VALUE);
	buts.push_back("lecture.xml");
	buts.push_back("tenu.xml");
#endif
	for (const auto &but : buts) {
		SCOPED_TRACE(but);
		Issue r = lance({"source.txt", but});
		EXPECT_EQ(r.statut, 1);
		EXPECT_EQ(r.err, attendu(OUVRIRSORTIE));
		EXPECT_EQ(lis("source.txt"), "a b\n");
	}
#ifdef _WIN32
	CloseHandle(tenu);
	EXPECT_EQ(lis("tenu.xml"), hier);
	EXPECT_EQ(lis("lecture.xml"), hier);
	SetFileAttributesA("lecture.xml", FILE_ATTRIBUTE_NORMAL);
	EXPECT_EQ(contenu("."), (std::vector<std::string>{"dossier",
	                            "lecture.xml", "source.txt", "tenu.xml"}));
#endif
}

TEST_F(Korvum, TargetThatIsTheSourceIsRefused)
{
	namespace fs = std::filesystem;
	const std::string source = "mots;words\nchat;cat\n";
	std::string ici = fs::current_path().filename().string();
	std::vector<std::string> noms = {"source.txt", "./source.txt",
	    "../" + ici + "/source.txt",
	    (fs::current_path() / "source.txt").string(), "lien-dur.txt"};
	fs::create_directory("sous");
#ifdef _WIN32
	noms.push_back("SOURCE.TXT");
	noms.push_back("Source.Txt");
	noms.push_back("sous\\..\\source.txt");
#else
	noms.push_back("lien.txt");
	noms.push_back("sous/../source.txt");
#endif
	for (const auto &but : noms) {
		SCOPED_TRACE(but);
		ecris("source.txt", source);
		fs::remove("lien-dur.txt");
		fs::create_hard_link("source.txt", "lien-dur.txt");
#ifndef _WIN32
		fs::remove("lien.txt");
		fs::create_symlink("source.txt", "lien.txt");
#endif
		Issue r = lance({"source.txt", but, ";"});
		EXPECT_EQ(r.statut, 1);
		EXPECT_EQ(r.err, attendu(MEMEFICHIER));
		EXPECT_EQ(lis("source.txt"), source);
	}
	// The link named as the source, the file itself as the target.
	Issue r = lance({"lien-dur.txt", "source.txt", ";"});
	EXPECT_EQ(r.statut, 1);
	EXPECT_EQ(r.err, attendu(MEMEFICHIER));
	EXPECT_EQ(lis("source.txt"), source);
}

// korvum replaces only a document: a target that holds anything but an
// XML declaration at its start (after a byte-order mark and blanks, in
// any encoding korvum reads) is refused, and both files keep every byte.
TEST_F(Korvum, OnlyADocumentIsReplaced)
{
	auto utf16 = [](const std::string &s, bool be) {
		std::string u;
		for (char c : s)
			u += be ? std::string{'\0', c} : std::string{c, '\0'};
		return u;
	};
	const std::string decl = "<?xml version=\"1.0\"?>\n<a/>\n";
	struct {
		std::string quoi, but;
		bool remplace;
	} cas[] = {
	    {"an empty file", "", true},
	    {"korvum's document", document(fiche("x", "y")), true},
	    {"UTF-8 with its mark", "\xef\xbb\xbf" + decl, true},
	    {"blanks first", " \t\r\n<?xml\tversion=\"1.0\"?>", true},
	    {"UTF-16 LE with its mark", "\xff\xfe" + utf16(decl, false), true},
	    {"UTF-16 BE with its mark", "\xfe\xff" + utf16(decl, true), true},
	    {"UTF-16 LE, no mark", utf16("\r\n" + decl, false), true},
	    {"UTF-16 BE, no mark", utf16(decl, true), true},
	    {"a list", "maison;house\n", false},
	    {"a list that begins with markup", "<!-- Le\xe7on 1 -->\na;b\n",
	        false},
	    {"a processing instruction", "<?xml-stylesheet href=\"q.xsl\"?>",
	        false},
	    {"upper case", "<?XML version=\"1.0\"?>", false},
	    {"a blank inside", "< ?xml version=\"1.0\"?>", false},
	    {"the declaration cut short", "\xef\xbb\xbf<?xml", false},
	    {"one byte", "<", false},
	    {"text first", "x<?xml version=\"1.0\"?>", false},
	    {"UTF-16 with a byte that is not zero", "<\x01?\0x\0m\0l\0 \0"s,
	        false},
	    {"blanks past the bytes looked at", std::string(TETE, ' ') + decl,
	        false},
	};
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		ecris("source.txt", "a;b\n");
		ecris("but.xml", c.but);
		Issue r = lance({"source.txt", "but.xml", ";"});
		EXPECT_EQ(r.statut, c.remplace ? 0 : 1);
		EXPECT_EQ(r.err, c.remplace ? "" : attendu(PASXML));
		EXPECT_EQ(lis("but.xml"),
		    c.remplace ? document(fiche("a", "b")) : c.but);
		EXPECT_EQ(lis("source.txt"), "a;b\n");
	}

	// The example's names swapped: its list begins with a comment line.
	const std::string liste = lis(KORVUM_EXEMPLES "/vocabulaire.txt");
	const std::string doc = lis(KORVUM_EXEMPLES "/vocabulaire.xml");
	ecris("vocabulaire.txt", liste);
	ecris("vocabulaire.xml", doc);
	Issue r = lance({"vocabulaire.xml", "vocabulaire.txt", ";"});
	EXPECT_EQ(r.statut, 1);
	EXPECT_EQ(r.err, attendu(PASXML));
	EXPECT_EQ(lis("vocabulaire.txt"), liste);
	EXPECT_EQ(lis("vocabulaire.xml"), doc);
}

// Built, like the korvum beside it, with AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define SOUS_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOUS_ASAN
#endif
#endif

TEST_F(Korvum, SameDeviceAsSourceAndTargetIsNotRefused)
{
#ifdef _WIN32
	const std::string vide = "NUL";
#else
	const std::string vide = "/dev/null";
#endif
	Issue r = lance({vide, vide, ";"});
	EXPECT_EQ(r.statut, 0);
	EXPECT_EQ(r.err, "");
}

// Whatever fails once the document is begun (a read, a write on a full
// disk or past a file size limit, the sync to the disk, the close, the
// renaming that puts the document in place, a signal that ends the run),
// the target keeps every byte it had, or stays absent, and nothing else is
// left in its folder: with an unnamed temporary file and with a named
// one, where the file system has no unnamed files.  Faults a test machine
// cannot produce are injected through LD_PRELOAD.
TEST_F(Korvum, FailedConversionKeepsTheTarget)
{
	POSIX_SEULEMENT("LD_PRELOAD and file size limits");
#ifndef _WIN32
	std::string source;
	for (int i = 0; i < 100000; i++)
		source += "mot" + std::to_string(i) + ";word\n";
	ecris("source.txt", source);
	const std::string hier = document(fiche("hier", "yesterday"));
	struct {
		std::string quoi;
		std::string panne; // NAME=value for the shim
		long long fsize;
		int statut;
		std::string err;
	} cas[] = {
	    {"read fails at once", "KORVUM_PANNE_LECTURE=0", -1, 1,
	        attendu(LIRE)},
	    {"read fails after 1000 B", "KORVUM_PANNE_LECTURE=1000", -1, 1,
	        attendu(LIRE)},
	    {"read fails after 300000 B", "KORVUM_PANNE_LECTURE=300000", -1, 1,
	        attendu(LIRE)},
	    {"read fails after 1000000 B", "KORVUM_PANNE_LECTURE=1000000", -1,
	        1, attendu(LIRE)},
	    {"disk full at once", "KORVUM_PANNE_PLEIN=0", -1, 1,
	        attendu(ECRIRE)},
	    {"disk full after 300000 B", "KORVUM_PANNE_PLEIN=300000", -1, 1,
	        attendu(ECRIRE)},
	    {"disk full after 1500000 B", "KORVUM_PANNE_PLEIN=1500000", -1, 1,
	        attendu(ECRIRE)},
	    // (The message, written to a file too, is shorter than 64 bytes.)
	    {"file size limit at 64 B", "", 64, 1, attendu(ECRIRE)},
	    {"file size limit at 100000 B", "", 100000, 1, attendu(ECRIRE)},
	    {"sync fails", "KORVUM_PANNE_SYNC=1", -1, 1, attendu(ECRIRE)},
	    {"close fails", "KORVUM_PANNE_FERMETURE=1", -1, 1, attendu(ECRIRE)},
	    {"rename fails", "KORVUM_PANNE_RENOMMAGE=1", -1, 1,
	        attendu(ECRIRE)},
	    {"Ctrl+C", "KORVUM_PANNE_SIGNAL=" + std::to_string(SIGINT), -1,
	        128 + SIGINT, ""},
	    {"SIGTERM", "KORVUM_PANNE_SIGNAL=" + std::to_string(SIGTERM), -1,
	        128 + SIGTERM, ""},
	};
	// Over a document and with none, each with either temporary file.
	for (const auto &c : cas)
		for (int k = 0; k < 4; k++) {
			const bool avant = k % 2 == 0, anonyme = k < 2;
			SCOPED_TRACE(c.quoi +
			             (avant ? ", over a document" : "") +
			             (anonyme ? "" : ", no unnamed file"));
			for (const auto &n : contenu("."))
				if (n != "source.txt")
					std::filesystem::remove(n);
			if (avant)
				ecris("but.xml", hier);
			Panne p;
			p.env = {"LD_PRELOAD="s + KORVUM_PANNE, c.panne};
			if (!anonyme)
				p.env.push_back("KORVUM_PANNE_ANONYME=1");
			p.fsize = c.fsize;
			Issue r = lance({"source.txt", "but.xml", ";"}, p);
			EXPECT_EQ(r.statut, c.statut);
			EXPECT_EQ(r.err, c.err);
			std::vector<std::string> restent = {"source.txt"};
			if (avant)
				restent.insert(restent.begin(), "but.xml");
			EXPECT_EQ(contenu("."), restent);
			EXPECT_EQ(lis("but.xml"), avant ? hier : "");
			EXPECT_EQ(lis("source.txt"), source);
		}

	// A device is written in place, and its failure is one too; the
	// warnings about the lines read before it come first.
	Issue r = lance({"source.txt", "/dev/full", ";"});
	EXPECT_EQ(r.statut, 1);
	EXPECT_EQ(r.err, attendu(ECRIRE));
	ecris("avertis.txt", "x\n" + source);
	r = lance({"avertis.txt", "/dev/full", ";"});
	EXPECT_EQ(r.err, pasdesepar(1) + attendu(ECRIRE));
#endif
}

// Memory grows with the longest line, never with the source: a source four
// times the address space korvum is allowed converts, and a line longer
// than that space is a read error.
TEST_F(Korvum, MemoryGrowsWithTheLongestLineOnly)
{
	POSIX_SEULEMENT("An address-space limit");
#ifdef SOUS_ASAN
	GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space, "
	                "more than any limit that lets korvum run";
#endif
	// Lines padded with blanks: a large source, a document a quarter of it.
	const size_t limite = 16 << 20;
	std::string r(1000, 'r'), blancs(3000, ' '), source, corps;
	while (source.size() < 4 * limite) {
		source += "q;" + r + blancs + "\n";
		corps += fiche("q", r);
	}
	struct {
		const char *quoi;
		std::string source;
		int statut;
		std::string err, doc;
	} cas[] = {
	    {"source of four times the limit", std::move(source), 0, "",
	        document(corps)},
	    // (The document of the row above stays.)
	    {"line longer than the limit",
	        "q;" + std::string(limite, 'r') + "\n", 1, attendu(LIRE),
	        document(corps)},
	};
	Panne memoire;
	memoire.memoire = (long long)limite;
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		ecris("source.txt", c.source);
		Issue res = lance({"source.txt", "but.xml", ";"}, memoire);
		EXPECT_EQ(res.statut, c.statut);
		EXPECT_EQ(res.err, c.err);
		EXPECT_TRUE(lis("but.xml") == c.doc) << "the document differs";
	}
}

// A write that takes only part of its bytes, and a read and a write that
// a signal interrupts, are taken up again: the document is whole.
TEST_F(Korvum, ShortAndInterruptedReadsAndWritesAreResumed)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	ecris("source.txt", "a;b\nc;d\n");
	for (const char *panne :
	    {"KORVUM_PANNE_COURTE=1", "KORVUM_PANNE_EINTR=1"}) {
		SCOPED_TRACE(panne);
		Panne p;
		p.env = {"LD_PRELOAD="s + KORVUM_PANNE, panne};
		Issue r = lance({"source.txt", "but.xml", ";"}, p);
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(lis("but.xml"),
		    document(fiche("a", "b") + fiche("c", "d")));
	}
#endif
}

// Started with standard streams closed, korvum never lets its files take
// their place: no warning lands in the document, the source is kept. A
// standard stream that is a pipe no one reads any more (2>&1 | head) does
// not end the conversion either.
TEST_F(Korvum, ClosedStandardStreams)
{
	POSIX_SEULEMENT("Starting a program with closed standard streams");
#ifndef _WIN32
	const std::string source = "a;b\nsans\nc;d\n";
	ecris("source.txt", source);
	struct {
		std::vector<int> fermes, rompus;
		std::string err; // standard error, when it is open
	} cas[] = {
	    {{1, 2}, {}, ""},
	    {{0}, {}, pasdesepar(2)},
	    {{0, 2}, {}, ""},
	    {{0, 1, 2}, {}, ""},
	    {{}, {2}, ""},
	    {{}, {1, 2}, ""},
	};
	for (const auto &c : cas) {
		SCOPED_TRACE(::testing::PrintToString(c.fermes) + " closed, " +
		             ::testing::PrintToString(c.rompus) + " broken");
		Panne p;
		p.fermes = c.fermes;
		p.rompus = c.rompus;
		Issue r = lance({"source.txt", "but.xml", ";"}, p);
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(lis("but.xml"),
		    document(fiche("a", "b") + fiche("c", "d")));
		EXPECT_EQ(lis("source.txt"), source);
	}
#endif
}

// A new target may be read and written by all, as far as the umask
// allows; a replaced one keeps its mode and its owner.  On Windows, a new
// target is not read-only, and a replaced one keeps its attributes.
TEST_F(Korvum, TargetPermissions)
{
	ecris("source.txt", "a;b\n");
#ifdef _WIN32
	Issue r = lance({"source.txt", "but.xml", ";"});
	EXPECT_EQ(r.statut, 0);
	EXPECT_EQ(GetFileAttributesA("but.xml") & FILE_ATTRIBUTE_READONLY, 0u);
	// Writable again, so that a failure leaves a directory that goes.
	SetFileAttributesA("but.xml", FILE_ATTRIBUTE_NORMAL);

	const DWORD cache = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
	ecris("cache.xml", document(""));
	SetFileAttributesA("cache.xml", cache);
	r = lance({"source.txt", "cache.xml", ";"});
	EXPECT_EQ(r.statut, 0);
	EXPECT_EQ(lis("cache.xml"), document(fiche("a", "b")));
	EXPECT_EQ(GetFileAttributesA("cache.xml"), cache);
#else
	struct {
		int avant; // the target's mode, 0 when there is none
		int masque, apres;
	} cas[] = {
	    {0, 022, 0644},
	    {0, 027, 0640},
	    {0, 077, 0600},
	    {0, 0, 0666},
	    {0600, 022, 0600},
	    {0640, 077, 0640},
	    {0751, 0, 0751},
	};
	// Only root may give a file to someone else, to see it kept.
	const bool root = geteuid() == 0;
	for (const auto &c : cas) {
		SCOPED_TRACE(::testing::Message()
		             << "mode " << std::oct << c.avant << ", umask "
		             << c.masque);
		std::filesystem::remove("but.xml");
		if (c.avant > 0) {
			ecris("but.xml", document(""));
			chmod("but.xml", (mode_t)c.avant);
			ASSERT_TRUE(!root || chown("but.xml", 4321, 4322) == 0);
		}
		Panne p;
		p.masque = c.masque;
		Issue r = lance({"source.txt", "but.xml", ";"}, p);
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(lis("but.xml"), document(fiche("a", "b")));
		struct stat st;
		ASSERT_EQ(stat("but.xml", &st), 0);
		EXPECT_EQ((int)(st.st_mode & 07777), c.apres);
		EXPECT_TRUE(c.avant == 0 || !root ||
		            (st.st_uid == 4321 && st.st_gid == 4322));
	}
#endif
}

// A symbolic link as the target stays a link, and the file it names gets
// the document.  A file of several names is written in place, so that
// each name shows the document (and is emptied when the conversion fails,
// as before), and so is a target whose folder takes no temporary file.
TEST_F(Korvum, LinksAndTargetsWrittenInPlace)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	namespace fs = std::filesystem;
	const std::string hier = document(fiche("hier", "yesterday"));
	const std::string doc = document(fiche("a", "b"));
	struct {
		std::string quoi,
		    lien; // how but.xml names fichier.xml, if it does
		std::string panne, apres; // what fichier.xml holds afterwards
	} cas[] = {
	    {"symbolic link", "-s", "", doc},
	    {"symbolic link, disk full", "-s", "KORVUM_PANNE_PLEIN=0", hier},
	    {"hard links", "dur", "", doc},
	    {"hard links, disk full", "dur", "KORVUM_PANNE_PLEIN=0", ""},
	    {"no temporary file", "", "KORVUM_PANNE_PROVISOIRE=1", doc},
	};
	ecris("source.txt", "a;b\n");
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		fs::remove("but.xml");
		ecris("fichier.xml", hier);
		if (c.lien == "-s")
			fs::create_symlink("fichier.xml", "but.xml");
		if (c.lien == "dur")
			fs::create_hard_link("fichier.xml", "but.xml");
		std::vector<std::string> noms = contenu(".");
		Panne p;
		p.env = {"LD_PRELOAD="s + KORVUM_PANNE, c.panne};
		Issue r =
		    lance({"source.txt",
		              c.lien.empty() ? "fichier.xml" : "but.xml", ";"},
		        p);
		EXPECT_EQ(r.statut, c.apres == doc ? 0 : 1);
		EXPECT_EQ(r.err, c.apres == doc ? "" : attendu(ECRIRE));
		EXPECT_EQ(lis("fichier.xml"), c.apres);
		EXPECT_EQ(contenu("."), noms);
		EXPECT_EQ(fs::is_symlink("but.xml"), c.lien == "-s");
		EXPECT_EQ(fs::hard_link_count("fichier.xml"),
		    c.lien == "dur" ? 2u : 1u);
	}
#endif
}

#ifndef _WIN32
// A list long enough for its document to be written in several blocks,
// in source.txt; its document.
static std::string
longueliste()
{
	std::string source, corps;
	for (int i = 0; i < 100000; i++) {
		source += "mot" + std::to_string(i) + ";word\n";
		corps += fiche("mot" + std::to_string(i), "word");
	}
	ecris("source.txt", source);
	return document(corps);
}

// The lines of a file, in order.
static std::vector<std::string>
lignes(const std::string &nom)
{
	std::vector<std::string> v;
	std::string t = lis(nom);
	for (size_t i = 0, j; (j = t.find('\n', i)) != std::string::npos;
	     i = j + 1)
		v.push_back(t.substr(i, j - i));
	return v;
}
#endif

// A document takes the target's place only once it is on the disk: the
// temporary file is forced, then named (if it had no name), then renamed
// over the target, then the folder is forced.  A failed sync of the file
// keeps yesterday's document; a failed sync of the folder comes after the
// document took its place, and is reported all the same.  A target
// written in place is not forced.
TEST_F(Korvum, ReplacementIsForcedToTheDiskInOrder)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	namespace fs = std::filesystem;
	using V = std::vector<std::string>;
	const std::string hier = document(fiche("hier", "yesterday"));
	const std::string doc = document(fiche("a", "b"));
	const std::string F = "sync fichier", D = "sync dossier";
	// (columns in the order a row reads)
	struct { // NOLINT(clang-analyzer-optin.performance.Padding)
		std::string quoi;
		bool avant;      // a document is there,
		std::string dur; // with this second name
		std::string panne;
		V journal; // the calls, in order
		int statut;
		std::string apres; // what d/but.xml holds
	} cas[] = {
	    {"new target", false, "", "", {F, "linkat", "renameat", D}, 0, doc},
	    {"over a document", true, "", "", {F, "linkat", "renameat", D}, 0,
	        doc},
	    {"no /proc", true, "", "KORVUM_PANNE_PROC=1",
	        {F, "linkat", "linkat", "renameat", D}, 0, doc},
	    {"no unnamed file", true, "", "KORVUM_PANNE_ANONYME=1",
	        {F, "renameat", D}, 0, doc},
	    {"sync of the file fails", true, "", "KORVUM_PANNE_SYNC=1", {F}, 1,
	        hier},
	    {"sync of the file fails, no unnamed file", true, "",
	        "KORVUM_PANNE_SYNC=1 KORVUM_PANNE_ANONYME=1", {F, "unlinkat"},
	        1, hier},
	    {"sync of the folder fails", true, "", "KORVUM_PANNE_SYNC=2",
	        {F, "linkat", "renameat", D}, 1, doc},
	    {"two names, written in place", true, "autre.xml", "", {}, 0, doc},
	};
	ecris("source.txt", "a;b\n");
	fs::create_directory("d");
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		fs::remove_all("d");
		fs::create_directory("d");
		fs::remove("journal");
		if (c.avant)
			ecris("d/but.xml", hier);
		Panne p;
		p.env = {"LD_PRELOAD="s + KORVUM_PANNE,
		    "KORVUM_PANNE_JOURNAL=journal"};
		for (size_t i = 0, j; i < c.panne.size(); i = j + 1) {
			j = std::min(c.panne.find(' ', i), c.panne.size());
			p.env.push_back(c.panne.substr(i, j - i));
		}
		if (!c.dur.empty())
			fs::create_hard_link("d/but.xml", "d/" + c.dur);
		Issue r = lance({"source.txt", "d/but.xml", ";"}, p);
		EXPECT_EQ(r.statut, c.statut);
		EXPECT_EQ(r.err, c.statut == 0 ? "" : attendu(ECRIRE));
		EXPECT_EQ(lignes("journal"), c.journal);
		EXPECT_EQ(lis("d/but.xml"), c.apres);
		V restent = {"but.xml"};
		if (!c.dur.empty())
			restent.insert(restent.begin(), c.dur);
		EXPECT_EQ(contenu("d"), restent);
	}
#endif
}

// However a run ends, killed or not, and even when its folder is renamed
// meanwhile, the folder the target ends up in holds the target as it was
// (or none) or the whole document, and nothing else.  Only a killed run
// whose file system has no unnamed files leaves its temporary file.
TEST_F(Korvum, KilledOrMovedRunLeavesNothingBehind)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	namespace fs = std::filesystem;
	const std::string doc = longueliste();
	const std::string hier = document(fiche("hier", "yesterday"));
	const std::string KILL =
	    "KORVUM_PANNE_SIGNAL=" + std::to_string(SIGKILL);
	struct { // NOLINT(clang-analyzer-optin.performance.Padding)
		std::string quoi;
		bool deplace; // the folder is renamed at the first write
		std::string panne;
		int statut;
		std::string err;
	} cas[] = {
	    {"SIGKILL", false, KILL, 128 + SIGKILL, ""},
	    {"folder moved", true, "", 0, ""},
	    {"folder moved, disk full", true, "KORVUM_PANNE_PLEIN=300000", 1,
	        attendu(ECRIRE)},
	    {"folder moved, SIGTERM", true,
	        "KORVUM_PANNE_SIGNAL=" + std::to_string(SIGTERM), 128 + SIGTERM,
	        ""},
	    {"folder moved, SIGKILL", true, KILL, 128 + SIGKILL, ""},
	};
	for (const auto &c : cas)
		for (int k = 0; k < 4; k++) {
			const bool avant = k % 2 == 0, anonyme = k < 2;
			SCOPED_TRACE(c.quoi +
			             (avant ? ", over a document" : "") +
			             (anonyme ? "" : ", no unnamed file"));
			fs::remove_all("ancien");
			fs::remove_all("nouveau");
			fs::create_directory("ancien");
			if (avant)
				ecris("ancien/but.xml", hier);
			Panne p;
			p.env = {"LD_PRELOAD="s + KORVUM_PANNE, c.panne};
			if (c.deplace)
				p.env.push_back(
				    "KORVUM_PANNE_DOSSIER=ancien:nouveau");
			if (!anonyme)
				p.env.push_back("KORVUM_PANNE_ANONYME=1");
			Issue r =
			    lance({"source.txt", "ancien/but.xml", ";"}, p);
			EXPECT_EQ(r.statut, c.statut);
			EXPECT_EQ(r.err, c.err);
			const std::string d = c.deplace ? "nouveau" : "ancien";
			EXPECT_EQ(existe("ancien"), !c.deplace);
			const bool fait = c.statut == 0;
			std::vector<std::string> restent, attendus;
			for (const auto &n : contenu(d))
				if (n.size() == 17 &&
				    n.starts_with("korvum-") &&
				    n.ends_with(".tmp"))
					restent.push_back(n);
				else
					attendus.push_back(n);
			EXPECT_EQ(attendus,
			    avant || fait ? std::vector<std::string>{"but.xml"}
			                  : std::vector<std::string>{});
			EXPECT_EQ(lis(d + "/but.xml"), fait    ? doc
			                               : avant ? hier
			                                       : "");
			EXPECT_EQ(restent.size(),
			    !anonyme && c.panne == KILL ? 1u : 0u);
		}
#endif
}

// A dangling symbolic link as the target is followed, as a link to a file
// is, from each link's own folder: the document takes the place of the
// file the last one names, and every link stays as it was.  A run that
// fails or is interrupted creates nothing there.  A folder that takes no
// temporary file has the file written in place, through the links.
TEST_F(Korvum, DanglingLinkIsWrittenThrough)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	namespace fs = std::filesystem;
	const std::string doc = longueliste();
	const std::string ici = fs::current_path().string();
	// Each chain: pairs of a link and what it holds; the last one
	// leads to fichier.xml, in this folder.
	const std::vector<std::vector<std::pair<std::string, std::string>>>
	    chaines = {
	        {{"but.xml", "fichier.xml"}},
	        {{"but.xml", "sous/lien"}, {"sous/lien", "../fichier.xml"}},
	        {{"but.xml", ici + "/sous/lien"}, {"sous/lien", "autre"},
	            {"sous/autre", ici + "/fichier.xml"}},
	    };
	struct {
		std::string quoi, panne;
		int statut;
		std::string err;
	} cas[] = {
	    {"finished", "", 0, ""},
	    {"disk full", "KORVUM_PANNE_PLEIN=300000", 1, attendu(ECRIRE)},
	    {"SIGTERM", "KORVUM_PANNE_SIGNAL=" + std::to_string(SIGTERM),
	        128 + SIGTERM, ""},
	    {"no temporary file", "KORVUM_PANNE_PROVISOIRE=1", 0, ""},
	};
	for (const auto &chaine : chaines)
		for (const auto &c : cas) {
			SCOPED_TRACE(c.quoi + ", " + chaine.back().second);
			fs::remove_all("sous");
			fs::remove("but.xml");
			fs::remove("fichier.xml");
			fs::create_directory("sous");
			for (const auto &[lien, texte] : chaine)
				fs::create_symlink(texte, lien);
			const auto avant = contenu("."),
			           avantsous = contenu("sous");
			Panne p;
			p.env = {"LD_PRELOAD="s + KORVUM_PANNE, c.panne};
			Issue r = lance({"source.txt", "but.xml", ";"}, p);
			EXPECT_EQ(r.statut, c.statut);
			EXPECT_EQ(r.err, c.err);
			for (const auto &[lien, texte] : chaine)
				EXPECT_EQ(fs::read_symlink(lien), texte);
			auto apres = avant;
			if (c.statut == 0) {
				apres.push_back("fichier.xml");
				std::sort(apres.begin(), apres.end());
			}
			EXPECT_EQ(contenu("."), apres);
			EXPECT_EQ(contenu("sous"), avantsous);
			EXPECT_EQ(lis("fichier.xml"), c.statut == 0 ? doc : "");
		}
#endif
}

// Whatever file it is given, korvum ends cleanly with a whole document.
TEST_F(Korvum, HostileSources)
{
	std::string utf16;
	for (char c : std::string("chat;cat\r\nchien;dog\r\n"))
		utf16 += std::string(1, c) + '\0';
	std::string ligne(100u << 20, 'r');
	std::string avertis, erreurs;
	for (int i = 1; i <= 1000000; i++) {
		avertis += "x\n";
		erreurs += pasdesepar(i);
	}
	convertit({
	    {"UTF-16 without its byte-order mark", {";"}, utf16,
	        fiche("chat", "cat") + fiche("chien", "dog"), ""},
	    {"zero bytes only", {";"}, std::string(1 << 20, '\0'), "", ""},
	    {"a line of 100 MiB without LF", {";"}, "q;" + ligne,
	        fiche("q", ligne), ""},
	    {"a million warnings", {";"}, avertis, "", erreurs},
	});
}

// A folder one may write in but not read (which root, running the suite,
// cannot show, so its open is made to fail): the document still goes
// through a temporary file there, so that a failure keeps yesterday's.
TEST_F(Korvum, FolderThatCannotBeReadStillTakesATemporaryFile)
{
	POSIX_SEULEMENT("LD_PRELOAD");
#ifndef _WIN32
	const std::string hier = document(fiche("hier", "yesterday"));
	ecris("source.txt", "a;b\n");
	struct {
		std::string quoi, panne, apres;
	} cas[] = {
	    {"finished", "KORVUM_PANNE_RIEN=1", document(fiche("a", "b"))},
	    {"disk full", "KORVUM_PANNE_PLEIN=0", hier},
	    {"no unnamed file, disk full",
	        "KORVUM_PANNE_ANONYME=1 KORVUM_PANNE_PLEIN=0", hier},
	};
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		ecris("but.xml", hier);
		Panne p;
		p.env = {
		    "LD_PRELOAD="s + KORVUM_PANNE, "KORVUM_PANNE_DOSSIERLU=1"};
		for (size_t i = 0, j; i < c.panne.size(); i = j + 1) {
			j = std::min(c.panne.find(' ', i), c.panne.size());
			p.env.push_back(c.panne.substr(i, j - i));
		}
		Issue r = lance({"source.txt", "but.xml", ";"}, p);
		EXPECT_EQ(r.statut, c.apres == hier ? 1 : 0);
		EXPECT_EQ(lis("but.xml"), c.apres);
		EXPECT_EQ(contenu("."),
		    (std::vector<std::string>{"but.xml", "source.txt"}));
	}
#endif
}
