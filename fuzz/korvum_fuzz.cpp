// libFuzzer target: korvum's own conversion, run in-process on memory
// files. The first byte of an input chooses the separator (see separateur
// below; 0 for an empty third argument), the rest is the source, in any
// encoding. Each run must keep these properties:
//  - the document is the declaration, the root start tag, a body and the
//    closing tag, with nothing outside them;
//  - every body line begins with '<' (a record or a markup line);
//  - standard error holds only korvum's messages about lines, each kind's
//    numbers rising, and one report of an unreadable document at most;
//  - the document and the messages are those of a plain line-by-line
//    reading of the source (modele below), so every line is accounted
//    for once: record, markup, warning or blank;
//  - two readers, libxml2 (without namespaces: XML alone) and expat,
//    both accept the document exactly when korvum reported no unreadable
//    document;
//  - then the records they read are the fields as typed, with what the
//    user wrote as markup or references read as a reader reads them;
//  - the same source converted with every vector step the processor has
//    gives the same bytes;
//  - nothing is written to standard output.
// It links the program's own files, but main, and calls rediger as main
// does once both files are open.
#include "extern.h"

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

static const std::string PROLOGUE =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
    "<SOLVARINE TYPE=\"L\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";
static const std::string FERMANTE = "</SOLVARINE>";
static const std::string AVERTISSEMENT = PASDESEPAR;
static const std::string LIGNE = MESSAGELIGNE;
static const std::string INTERDIT =
    std::string(JOINT) + CARINTERDIT + FINMESSAGE;
static const std::string ILLISIBLE = std::string(JOINT) + DOCILLISIBLE;
// A line break inside a row of several lines: no character, so that no
// rule takes it for a blank or a separator; the document holds "&#10;".
static constexpr char32_t SAUT = 0x110000;

static void
faux(const char *quoi)
{
	(void)std::fprintf(stderr, "korvum_fuzz: %s\n", quoi);
	std::abort();
}

// A memory file holding these bytes, positioned at its start.
static int
fichier(const std::string &octets)
{
	int fd = memfd_create("korvum", 0);
	if (fd < 0 ||
	    write(fd, octets.data(), octets.size()) != (ssize_t)octets.size() ||
	    lseek(fd, 0, SEEK_SET) != 0)
		faux("memfd");
	return fd;
}

static std::string
relis(int fd)
{
	std::string s;
	char b[65536];
	ssize_t n;
	lseek(fd, 0, SEEK_SET);
	while ((n = read(fd, b, sizeof b)) > 0)
		s.append(b, (size_t)n);
	close(fd);
	return s;
}

// The separator for an input's first byte: that byte's windows-1252
// character, but for 0x90 to 0x9F, which choose characters windows-1252
// lacks.
static char32_t
separateurfuzz(unsigned char b)
{
	static const char32_t AILLEURS[8] = {
	    U'Ω', U'😀', U'寿', U'Ł', 0xfffd, 0xfeff, 0x10ffff, U'ś'};
	return b >= 0x90 && b < 0xa0 ? AILLEURS[b & 7] : car1252(b);
}

// What main does once both files are open, on memory files, with the
// vector steps j.
static void
convertit(const std::string &source, char32_t sep, Jeu j, std::string &texte,
    std::string &messages, std::string &out)
{
	int sauve = dup(1), sortiestd = fichier("");
	dup2(sortiestd, 1);
	entree = fichier(source);
	sortie = fichier("");
	canal = fichier("");
	separ = sep;
	typedoc = 'L';
	jeu = j;
	rediger();
	close(entree);
	texte = relis(sortie);
	messages = relis(canal);
	entree = sortie = -1;
	canal = 2;
	dup2(sauve, 1);
	close(sauve);
	out = relis(sortiestd);
}

// The well-formed UTF-8 sequence at s[i], as its character and length;
// false when there is none. Written apart from korvum's own decoder: a
// sequence is read whole, then its value is checked.
static bool
sequence(const std::string &s, size_t i, char32_t &c, size_t &n)
{
	auto b = (unsigned char)s[i];
	n = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc0 ? 2 : 0;
	if (n == 0 || b > 0xf7 || i + n > s.size())
		return false;
	c = b & (0x7f >> n);
	for (size_t k = 1; k < n; k++) {
		auto o = (unsigned char)s[i + k];
		if ((o & 0xc0) != 0x80)
			return false;
		c = c << 6 | (o & 0x3f);
	}
	const char32_t plusbas[5] = {0, 0, 0x80, 0x800, 0x10000};
	return c >= plusbas[n] && c <= 0x10ffff && (c < 0xd800 || c > 0xdfff);
}

// Whether the bytes at s[i], to the end of s, may begin a UTF-8 sequence
// that the end cuts short: the lead and what follows of it, in order,
// with the second byte in its lead's range. Written apart from korvum's.
static bool
entame(const std::string &s, size_t i)
{
	auto b = (unsigned char)s[i];
	size_t n = b >= 0xc2 && b <= 0xdf   ? 2
	           : b >= 0xe0 && b <= 0xef ? 3
	           : b >= 0xf0 && b <= 0xf4 ? 4
	                                    : 0;
	if (n == 0 || i + n <= s.size())
		return false;
	for (size_t k = i + 1; k < s.size(); k++) {
		auto o = (unsigned char)s[k];
		unsigned bas = 0x80, haut = 0xbf;
		if (k == i + 1)
			bas = b == 0xe0   ? 0xa0
			      : b == 0xf0 ? 0x90
			                  : 0x80,
			haut = b == 0xed   ? 0x9f
			       : b == 0xf4 ? 0x8f
			                   : 0xbf;
		if (o < bas || o > haut)
			return false;
	}
	return true;
}

// What a line of an 8-bit source tells of its encoding, as korvum's
// README says it: 0 nothing (ASCII), 1 windows-1252 (a byte above 127 in
// no well-formed sequence), 2 UTF-8 (a sequence of three or four bytes,
// or one beside another or a lowercase letter), 3 doubt (lone two-byte
// pairs only). When the line goes on past s (!fermee), a sequence cut
// short at the end tells nothing.
static int
dit(const std::string &s, bool fermee)
{
	int d = 0;
	auto tient = [&](size_t k) {
		auto b = (unsigned char)s[k];
		return b >= 0x80 || (b >= 'a' && b <= 'z');
	};
	for (size_t i = 0, n; i < s.size(); i += n) {
		char32_t c;
		n = 1;
		if ((unsigned char)s[i] < 0x80)
			continue;
		if (!fermee && entame(s, i))
			break;
		if (!sequence(s, i, c, n))
			return 1;
		if (n > 2 || (i > 0 && tient(i - 1)) ||
		    (i + n < s.size() && tient(i + n)))
			d = 2;
		else if (d == 0)
			d = 3;
	}
	return d;
}

// A line of the source as a plain reading finds it: its characters, whether
// they are its bytes as they are (a line read in windows-1252), and
// whether it ended at a line end.
struct LigneModele {
	std::u32string t;
	bool octets, lf;
};

// The source's lines, in their encodings, read in the plainest way.
static std::vector<LigneModele>
lignes(const std::string &source)
{
	std::u32string t;         // the text, characters or bytes
	std::vector<size_t> tenu; // where each character's held text ends
	bool seize = false, marque = false, be = false;
	if (source.compare(0, 2, "\xff\xfe") == 0 ||
	    source.compare(0, 2, "\xfe\xff") == 0) {
		seize = marque = true;
		be = source[0] == '\xfe';
	} else if (source.compare(0, 3, "\xef\xbb\xbf") == 0)
		marque = true;
	else {
		size_t unites = std::min<size_t>(source.size(), 128) / 2;
		size_t z[2] = {0, 0};
		for (size_t i = 0; i < 2 * unites; i++)
			z[i % 2] += source[i] == '\0';
		// Zeros in half the units on one side, four times fewer on
		// the other.
		size_t fort = std::max(z[0], z[1]),
		       faible = std::min(z[0], z[1]);
		seize = unites >= 2 && 2 * fort >= unites && 4 * faible < fort;
		be = z[0] > z[1];
	}
	std::string s = source.substr(seize && marque ? 2 : marque ? 3 : 0);
	if (seize) {
		std::vector<char32_t> u;
		for (size_t i = 0; i + 1 < s.size(); i += 2)
			u.push_back(be ? (unsigned char)s[i] << 8 |
			                     (unsigned char)s[i + 1]
			               : (unsigned char)s[i + 1] << 8 |
			                     (unsigned char)s[i]);
		for (size_t i = 0; i < u.size(); i++)
			if (u[i] >= 0xd800 && u[i] < 0xdc00 &&
			    i + 1 < u.size() && u[i + 1] >= 0xdc00 &&
			    u[i + 1] < 0xe000) {
				t += (char32_t)(0x10000 +
				                ((u[i] - 0xd800) << 10) +
				                (u[i + 1] - 0xdc00));
				i++;
			} else
				t += u[i] >= 0xd800 && u[i] < 0xe000 ? U'\ufffd'
				                                     : u[i];
		if (s.size() % 2 != 0)
			t += U'\ufffd';
		t.resize(std::min(t.size(), t.find(0x1a)));
	} else {
		s.resize(std::min(s.size(), s.find('\x1a')));
		for (char b : s)
			t += (unsigned char)b;
	}
	// Line ends: LF, unless the first FENETRE bytes of text (as korvum
	// holds it: an escape of four for what windows-1252 lacks) hold CRs
	// and no LF; then CR and LF, CR LF being one.
	size_t octetstenus = 0, k = 0;
	bool vucr = false, vulf = false;
	for (; k < t.size() && octetstenus < FENETRE; k++) {
		char32_t c = t[k];
		vulf = vulf || c == '\n';
		vucr = vucr || c == '\r';
		octetstenus += !seize || octetinterne(c) >= 0 ? 1 : 4;
	}
	bool cr = vucr && !vulf;
	auto fin = [&](size_t i) {
		return t[i] == '\n' || (cr && t[i] == '\r');
	};

	// What the lines that do not tell are read in, at the start: as the
	// first line that tells, among those that begin within FENETRE bytes
	// of the first byte above 127, bytes past FENETRE + 3 unseen.
	int avant = marque ? 2 : 0;
	size_t haut = 0;
	while (!seize && !marque && haut < t.size() && t[haut] < 0x80)
		haut++;
	if (!seize && !marque && haut < t.size()) {
		size_t p = haut, vu = haut + FENETRE + 3;
		while (p > 0 && !fin(p - 1))
			p--;
		size_t bord = std::min(t.size(), vu);
		for (; avant == 0 && p < bord && p < haut + FENETRE;) {
			size_t e = p;
			while (e < bord && !fin(e))
				e++;
			if (e - p >= 3 && s.compare(p, 3, "\xef\xbb\xbf") == 0)
				p += 3;
			size_t z = s.find('\0', p);
			bool entiere = e < bord || e == t.size();
			bool coupe = z < e;
			int d = dit(
			    s.substr(p, (coupe ? z : e) - p), entiere || coupe);
			if (d == 1 || (d == 2 && (entiere || e == vu)))
				avant = d;
			p = e + 1;
		}
	}
	if (avant == 0)
		avant = 2;

	std::vector<LigneModele> l;
	for (size_t i = 0; i < t.size();) {
		size_t j = i;
		while (j < t.size() && !fin(j))
			j++;
		LigneModele x{t.substr(i, j - i), false, j < t.size()};
		size_t suite = j + 1;
		if (cr && x.lf && t[j] == '\r' && j + 1 < t.size() &&
		    t[j + 1] == '\n')
			suite++;
		if (!cr)
			while (!x.t.empty() && x.t.back() == '\r')
				x.t.pop_back();
		i = suite;
		if (size_t z = x.t.find(U'\0'); z != std::u32string::npos) {
			x.t.resize(z);
			x.lf = false;
		}
		if (seize && !x.t.empty() && x.t[0] == 0xfeff)
			x.t.erase(0, 1);
		if (!seize && x.t.compare(0, 3, U"\xef\xbb\xbf") == 0)
			x.t.erase(0, 3);
		if (!seize) {
			std::string b(x.t.begin(), x.t.end());
			int d = dit(b, true);
			if (d == 1 || d == 2)
				avant = d;
			x.octets = d == 0 || d == 1 || (d == 3 && avant == 1);
			if (!x.octets) {
				x.t.clear();
				for (size_t q = 0, n; q < b.size(); q += n) {
					char32_t c = (unsigned char)b[q];
					n = 1;
					if (c >= 0x80 && !sequence(b, q, c, n))
						faux("a UTF-8 line holds a "
						     "stray byte");
					x.t += c;
				}
			}
		}
		l.push_back(x);
	}
	return l;
}

// Characters as a reader finds them in the document, before any markup
// is told from text: windows-1252 bytes, or references for what
// windows-1252 lacks; bytes as they are when octets, but for the five it
// leaves unassigned. A control XML forbids, U+FFFE and U+FFFF are
// U+FFFD's reference, and *interdit says so.
static std::string
lisible(const std::u32string &t, bool octets, bool *interdit)
{
	std::string s;
	for (char32_t c : t) {
		if (c == SAUT) {
			s += "&#10;";
			continue;
		}
		if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
		    (!octets && (c == 0xfffe || c == 0xffff))) {
			*interdit = true;
			c = 0xfffd;
		} else if (octets && c != 0x81 && c != 0x8d && c != 0x8f &&
		           c != 0x90 && c != 0x9d) {
			s += (char)c;
			continue;
		}
		int b = octet1252(c);
		if (b >= 0 && (c < 0x80 || c >= 0xa0))
			s += (char)b;
		else
			s += "&#" + std::to_string((unsigned long)c) + ";";
	}
	return s;
}

// A field as the document must hold it: markup the field completes and
// references a reader resolves stay, as korvum's own lexer tells; any
// other '<' or '&', and "]]>", are written so that they read as typed.
static std::string
protege(const std::string &t)
{
	std::string s;
	const char *p = t.data(), *fin = p + t.size();
	while (p < fin) {
		const char *e = nullptr;
		if (*p == '<')
			e = construction(p, fin);
		else if (*p == '&' && reference(p, fin) > 0)
			e = p + reference(p, fin);
		if (e != nullptr) {
			s.append(p, e);
			p = e;
		} else if (*p == '<' || *p == '&') {
			s += *p++ == '<' ? "&lt;" : "&amp;";
		} else if (fin - p >= 3 && std::memcmp(p, "]]>", 3) == 0) {
			s += "]]&gt;";
			p += 3;
		} else
			s += *p++;
	}
	return s;
}

// The text a reader reads in a field as written: markup gone but for
// what a CDATA section holds, references resolved, a CR or CR LF written
// as such read as LF (one that a reference stands for stays a CR).
static std::u32string
lu(const std::string &ecrit)
{
	std::u32string s;
	std::string t;
	for (size_t i = 0; i < ecrit.size(); i++)
		if (ecrit[i] != '\r')
			t += ecrit[i];
		else if (i + 1 == ecrit.size() || ecrit[i + 1] != '\n')
			t += '\n';
	const char *p = t.data(), *fin = p + t.size();
	while (p < fin) {
		if (*p == '<') {
			const char *e = construction(p, fin);
			if (e == nullptr)
				faux("a field holds a '<' that begins no "
				     "markup");
			if (fin - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0)
				for (const char *c = p + 9; c < e - 3; c++)
					s += car1252((unsigned char)*c);
			p = e;
		} else if (*p == '&') {
			size_t k = reference(p, fin);
			if (k == 0)
				faux("a field holds a '&' that begins no "
				     "reference");
			std::string r(p + 1, k - 2);
			s += r == "amp"    ? U'&'
			     : r == "lt"   ? U'<'
			     : r == "gt"   ? U'>'
			     : r == "quot" ? U'"'
			     : r == "apos" ? U'\''
			     : r[1] == 'x' ? (char32_t)std::stoul(
			                         r.substr(2), nullptr, 16)
			                   : (char32_t)std::stoul(r.substr(1));
			p += k;
		} else
			s += car1252((unsigned char)*p++);
	}
	return s;
}

// Where the cell a spreadsheet quoted from l[0] closes: its first quote
// that is not doubled, npos when none; *d says whether a doubled quote
// stands before it.
static size_t
ferme(const std::u32string &l, bool *d)
{
	*d = false;
	for (size_t k = 1; k < l.size(); k++) {
		if (l[k] != '"')
			continue;
		if (k + 1 == l.size() || l[k + 1] != '"')
			return k;
		*d = true;
		k++;
	}
	return std::u32string::npos;
}

// The text of a quoted cell, its quotes included: without them, "" as ".
static std::u32string
sanscitation(const std::u32string &c)
{
	std::u32string t;
	for (size_t k = 1; k + 1 < c.size(); k++) {
		t += c[k];
		if (c[k] == '"')
			k++;
	}
	return t;
}

// The fields of a line l, neither blank nor markup, its leading blanks
// gone, as a spreadsheet's row reads: its trailing blanks cut but before a
// TAB separator is looked for; a cell wholly between quotes (every quote
// inside doubled) to the separator or the end, that holds the separator
// or a doubled quote, or on a row whose every cell that is not empty is
// quoted, read without its quotes. False when it holds no separator.
static bool
couper(const std::u32string &l0, char32_t sep, char32_t cible,
    std::u32string &q, std::u32string &r)
{
	const size_t npos = std::u32string::npos;
	std::u32string l = l0.substr(0, l0.find_last_not_of(U" \t\n") + 1);
	if (sep == 0) {
		q = l;
		r.clear();
		return true;
	}
	const std::u32string &ou = sep == '\t' ? l0 : l;
	size_t p = ou.find(cible), c = npos;
	const bool cellules = sep != '"';
	bool qc = false, qt = false, rc = false, rt = false, d;
	if (cellules && l[0] == '"' && (c = ferme(l, &d)) != npos) {
		qt = d || l.substr(1, c - 1).find(cible) != npos ||
		     l.substr(1, c - 1).find(SAUT) != npos;
		if (c + 1 < ou.size() && ou[c + 1] == cible)
			qc = true, p = c + 1;
		else if (c + 1 == l.size() && qt)
			qc = true, p = l.size();
	}
	if (p == npos)
		return false;
	q = ou.substr(0, p);
	r = p + 1 <= l.size() ? l.substr(p + 1) : U"";
	if (cellules && !r.empty() && r[0] == '"' &&
	    ferme(r, &d) == r.size() - 1)
		rc = true, rt = d ||
		                r.substr(1, r.size() - 2).find(cible) != npos ||
		                r.substr(1, r.size() - 2).find(SAUT) != npos;
	bool tous = (qc || q.empty()) && (rc || r.empty());
	if (qc && (qt || tous))
		q = sanscitation(q);
	if (rc && (rt || tous))
		r = sanscitation(r);
	return true;
}

// What the separator sep is in a line's text: itself, or, in a line read
// as its bytes (octets), its windows-1252 byte, or nothing the line holds.
static char32_t
separateurlu(char32_t sep, bool octets)
{
	if (!octets || sep == 0)
		return sep;
	return octet1252(sep) < 0 ? 0xffffffff : (char32_t)octet1252(sep);
}

// Where the line l leaves a quoted cell open: the quote that begins its Q,
// or its R after the separator that ends a quoted Q or else the first, when
// no quote closes it; npos when it leaves none.
static size_t
ouverte(const std::u32string &l0, char32_t sep, char32_t cible)
{
	const size_t npos = std::u32string::npos;
	size_t d = l0.find_first_not_of(U" \t\n"), c = npos, r;
	bool doublee;
	if (sep == 0 || sep == '"' || d == npos || l0[d] == '<')
		return npos;
	std::u32string l = l0.substr(d);
	if (l[0] == '"' && (c = ferme(l, &doublee)) == npos)
		return d;
	if (l[0] == '"' && l.find_first_not_of(U" \t\n", c + 1) == npos)
		return npos;
	if (l[0] == '"' && c + 1 < l.size() && l[c + 1] == cible)
		r = c + 2;
	else if ((r = l.find(cible)) != npos)
		r++;
	if (r == npos || r >= l.size() || l[r] != '"' ||
	    ferme(l.substr(r), &doublee) != npos)
		return npos;
	return d + r;
}

// A row that a spreadsheet wrote over n lines, or a line alone (n is 1).
struct RangeeModele {
	LigneModele x;
	size_t n;
};

// The source's lines as rows: a line that leaves a quoted cell open takes
// the lines after it, RANGEE in all at most, until that cell closes,
// followed by the separator or by blanks alone (and the row's R, if it
// opens one, too); the lines of a row are characters, each line break
// SAUT. A cell that closes otherwise, or not at all, leaves its first
// line alone.
static std::vector<RangeeModele>
rangees(const std::vector<LigneModele> &l, char32_t sep)
{
	auto texte = [](const LigneModele &x) {
		std::u32string t;
		for (char32_t c : x.t)
			t += x.octets ? car1252((unsigned char)c) : c;
		return t;
	};
	std::vector<RangeeModele> r;
	for (size_t i = 0; i < l.size();) {
		size_t q = ouverte(l[i].t, sep, separateurlu(sep, l[i].octets)),
		       n = 1;
		std::u32string t = texte(l[i]);
		for (size_t k = 1; q != std::u32string::npos && k < RANGEE &&
		                   i + k < l.size();
		     k++) {
			t += SAUT;
			t += texte(l[i + k]);
			bool d;
			size_t c = ferme(t.substr(q), &d);
			if (c == std::u32string::npos)
				continue;
			c += q + 1;
			if (t.find_first_not_of(U" \t\n", c) !=
			        std::u32string::npos &&
			    t[c] != sep)
				break;
			if ((q = ouverte(t, sep, sep)) == std::u32string::npos)
				n = k + 1;
		}
		if (n == 1)
			r.push_back({l[i], 1});
		else
			r.push_back({{t, false, l[i + n - 1].lf}, n});
		i += n;
	}
	return r;
}

using Fiches = std::vector<std::pair<std::u32string, std::u32string>>;

// The same conversion, read line by line in the plainest way, with the
// records as a reader reads them; korvum's report of an unreadable
// document is the judges' business (see lisent), not the model's.
// *avale says that a markup line opens what could hold records in it (a
// comment, a CDATA section, a PI) or writes records of its own.
static void
modele(const std::string &source, char32_t sep, std::string &texte,
    std::string &messages, Fiches &fiches, bool *avale)
{
	texte = PROLOGUE;
	messages.clear();
	fiches.clear();
	*avale = false;
	long long suivante = 1;
	for (RangeeModele &rangee : rangees(lignes(source), sep)) {
		LigneModele &x = rangee.x;
		std::u32string &l = x.t;
		bool lf = x.lf, octets = x.octets, interdit = false;
		const long long n = suivante; /* its first line's */
		suivante += (long long)rangee.n;
		size_t d = l.find_first_not_of(U" \t\n");
		if (d == std::u32string::npos)
			continue;
		l.erase(0, d);
		std::string note = LIGNE + std::to_string(n) + INTERDIT;
		if (l[0] == '<') {
			std::string b = lisible(l, octets, &interdit);
			texte += b + (lf ? "\r\n" : "");
			for (const char *o :
			    {"<!--", "<![CDATA[", "<?", "<F", "<Q", "<R", "</"})
				*avale =
				    *avale || b.find(o) != std::string::npos;
			if (interdit)
				messages += note;
			continue;
		}
		std::u32string q, r;
		if (!couper(l, sep, separateurlu(sep, octets), q, r)) {
			messages +=
			    AVERTISSEMENT + std::to_string(n) + FINMESSAGE;
			continue;
		}
		std::string eq = protege(lisible(q, octets, &interdit));
		std::string er = protege(lisible(r, octets, &interdit));
		texte += "<F><Q>" + eq + "</Q><R>" + er + "</R></F>\r\n";
		if (interdit)
			messages += note;
		fiches.emplace_back(lu(eq), lu(er));
	}
	texte += FERMANTE;
}

// Whether expat reads the document: it knows windows-1252 from this table
// (the five bytes Windows leaves unassigned are no character to it).
static int XMLCALL
encodage(void *, const XML_Char *nom, XML_Encoding *info)
{
	if (strcasecmp(nom, "windows-1252") != 0)
		return XML_STATUS_ERROR;
	for (int b = 0; b < 256; b++)
		info->map[b] = b == 0x81 || b == 0x8d || b == 0x8f ||
		                       b == 0x90 || b == 0x9d
		                   ? -1
		                   : (int)car1252((unsigned char)b);
	info->data = nullptr;
	info->convert = nullptr;
	info->release = nullptr;
	return XML_STATUS_OK;
}

// The text of an element as libxml2 reads it, in characters.
static std::u32string
contenu(xmlNodePtr e)
{
	xmlChar *c = xmlNodeGetContent(e);
	std::string u8 = c != nullptr ? (const char *)c : "";
	xmlFree(c);
	std::u32string t;
	for (size_t i = 0, n; i < u8.size(); i += n) {
		char32_t x;
		if (!sequence(u8, i, x, n)) {
			x = (unsigned char)u8[i];
			n = 1;
		}
		t += x;
	}
	return t;
}

// The records libxml2 finds: each F element outside a field, with the
// text of its Q and R.
static void
fiches(xmlNodePtr n, Fiches &f)
{
	for (xmlNodePtr c = n->children; c != nullptr; c = c->next) {
		if (c->type != XML_ELEMENT_NODE)
			continue;
		std::string nom = (const char *)c->name;
		if (nom == "Q" || nom == "R")
			continue;
		if (nom != "F") {
			fiches(c, f);
			continue;
		}
		xmlNodePtr q = xmlFirstElementChild(c);
		xmlNodePtr r =
		    q != nullptr ? xmlNextElementSibling(q) : nullptr;
		// An F without its Q and R is the user's markup (<F/>): a
		// record that no line gives, so that only a markup line that
		// writes records of its own lets it pass.
		if (r == nullptr)
			f.emplace_back(U"\uffff", U"\uffff");
		else
			f.emplace_back(contenu(q), contenu(r));
	}
}

// Whether both readers accept the document; the records libxml2 read.
static bool
lisent(const std::string &texte, Fiches &lues)
{
	XML_Parser x = XML_ParserCreate(nullptr);
	XML_SetUnknownEncodingHandler(x, encodage, nullptr);
	bool expat =
	    XML_Parse(x, texte.data(), (int)texte.size(), 1) == XML_STATUS_OK;
	XML_ParserFree(x);

	xmlParserCtxtPtr c = xmlNewParserCtxt();
	xmlDocPtr d = xmlCtxtReadMemory(c, texte.data(), (int)texte.size(),
	    nullptr, nullptr,
	    XML_PARSE_SAX1 | XML_PARSE_HUGE | XML_PARSE_NONET |
	        XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
	bool libxml2 = d != nullptr && c->wellFormed != 0;
	lues.clear();
	if (libxml2)
		fiches(xmlDocGetRootElement(d), lues);
	xmlFreeDoc(d);
	xmlFreeParserCtxt(c);
	return expat && libxml2;
}

// Standard error holds korvum's messages about lines only: warnings for
// a missing separator and for a replaced character, each kind's numbers
// rising, and one report of an unreadable document at most. Returns it
// without that report, which the model does not make.
static std::string
proprietes(
    const std::string &texte, const std::string &messages, bool *illisible)
{
	if (texte.compare(0, PROLOGUE.size(), PROLOGUE) != 0 ||
	    texte.size() < PROLOGUE.size() + FERMANTE.size() ||
	    texte.compare(
	        texte.size() - FERMANTE.size(), FERMANTE.size(), FERMANTE) != 0)
		faux("the document's frame is wrong");
	std::string corps = texte.substr(
	    PROLOGUE.size(), texte.size() - PROLOGUE.size() - FERMANTE.size());
	for (size_t i = 0; i < corps.size();) {
		size_t j = corps.find("\r\n", i);
		if (corps[i] != '<')
			faux("a body line does not begin with '<'");
		i = j == std::string::npos ? corps.size() : j + 2;
	}
	long long avant[2] = {0, 0};
	std::string reste;
	*illisible = false;
	for (size_t i = 0; i < messages.size();) {
		size_t j = messages.find('\n', i);
		if (j == std::string::npos)
			faux("a message does not end with LF");
		std::string m = messages.substr(i, j + 1 - i);
		i = j + 1;
		bool pas =
		    m.compare(0, AVERTISSEMENT.size(), AVERTISSEMENT) == 0;
		if (!pas && m.compare(0, LIGNE.size(), LIGNE) != 0)
			faux(
			    "standard error holds something else than messages "
			    "about lines");
		char *fin = nullptr;
		long long n = std::strtoll(
		    m.c_str() + (pas ? AVERTISSEMENT : LIGNE).size(), &fin, 10);
		std::string suite = fin;
		if (n <= 0)
			faux("a message names no line");
		if (!pas &&
		    suite.compare(0, ILLISIBLE.size(), ILLISIBLE) == 0) {
			if (*illisible)
				faux(
				    "an unreadable document is reported twice");
			*illisible = true;
			continue;
		}
		if (suite != (pas ? FINMESSAGE : INTERDIT))
			faux("a message is not one korvum writes");
		if (n <= avant[pas ? 0 : 1])
			faux("the line numbers of a kind of message do not "
			     "rise");
		avant[pas ? 0 : 1] = n;
		reste += m;
	}
	return reste;
}

// At the end of a replay, every way of the line loop was taken by some
// input, with some vector steps; the AVX2 builds where the processor has
// them.
static void
chemins_pris()
{
	static const char *const NOMS[NCHEMINS] = {"the careful way",
	    "the simple way", "runs of plain lines",
	    "runs of plain lines with signs", "runs of plain lines (AVX2)",
	    "runs of plain lines with signs (AVX2)",
	    "a block of UTF-8 lines decoded as read"};
	for (int c = 0; c < NCHEMINS; c++) {
		bool avx2 = c == CLAIRSAVX2 || c == CLAIRSIGNESAVX2;
		if (chemins[c] == 0 && (!avx2 || jeuprocesseur() == AVX2)) {
			(void)std::fprintf(
			    stderr, "korvum_fuzz: no input took %s\n", NOMS[c]);
			_exit(1);
		}
	}
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	xmlInitParser();
	if (std::getenv("KORVUM_FUZZ_CHEMINS") != nullptr)
		(void)std::atexit(chemins_pris);
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	char32_t sep = data[0] == 0 ? 0 : separateurfuzz(data[0]);
	std::string source((const char *)data + 1, size - 1);

	std::string texte, messages, out, texte2, messages2, out2, attendu,
	    attenduerr;
	convertit(source, sep, BASE, texte, messages, out);
	bool illisible;
	std::string avis = proprietes(texte, messages, &illisible);
	Fiches attendues, lues;
	bool avale;
	modele(source, sep, attendu, attenduerr, attendues, &avale);
	if (texte != attendu)
		faux("the document differs from the line-by-line reading");
	if (avis != attenduerr)
		faux("the warnings differ from the line-by-line reading");
	bool lisible = lisent(texte, lues);
	if (lisible == illisible)
		faux(lisible ? "a document the readers accept is reported"
		             : "a document a reader refuses is not reported");
	// (A markup line may hold records of its own, or make those of the
	// lines after it comments, CDATA or a PI.)
	if (lisible && !avale && lues != attendues)
		faux("the records read back are not the fields as typed");
	// Every wider step this processor has gives the same bytes.
	for (Jeu j = BASE; j < jeuprocesseur();) {
		j = (Jeu)(j + 1);
		convertit(source, sep, j, texte2, messages2, out2);
		if (texte2 != texte || messages2 != messages)
			faux("two vector steps give different documents");
		out += out2;
	}
	if (!out.empty())
		faux("something was written on standard output");
	return 0;
}
