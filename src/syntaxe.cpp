/*
 * XML as it is spelled, read from a '<' or a '&' of the document for the
 * reader (lecteur.cpp): names and blanks, tags and their attributes,
 * references that resolve without a DTD, and the ends of comments, CDATA
 * sections and processing instructions.
 *
 * It reads the text as the line loop holds it or as it is written, alike:
 * the bytes that become references when written (escapes, forbidden
 * controls, windows-1252's unassigned bytes) are, in both forms, neither
 * names, nor blanks, nor delimiters.
 */

#include "extern.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>

/* An attribute's name, and the table that finds a repeated one. */
struct Attribut {
	const char *nom;
	size_t lnom;
};
static Attribut *attributs;
static size_t nattributs, placeattributs;
struct Case {
	std::uint32_t generation, indice;
};
static Case *table; /* a slot is free when of an older generation */
static size_t placetable;
static std::uint32_t generation; /* of the tag whose names the table holds */

static bool caractere(unsigned long);
static Sorte attributsde(const char *, const char *, Lu *);
static bool repete(const char *, size_t);
static bool inserer(size_t);

/*
 * The class of each windows-1252 byte in a name: 1 may begin one, 2 may
 * stand in one.  The letters are those of every edition of XML; the signs
 * the fifth added (€ ˆ ˜ ™) are left out, as earlier readers refuse them.
 */
static constexpr struct Classes {
	unsigned char t[256];
} CLASSE = [] {
	Classes c{};
	for (int b = 0; b < 256; b++) {
		bool debut = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
		             b == '_' || b == ':' ||
		             (b >= 0xc0 && b != 0xd7 && b != 0xf7) ||
		             b == 0x83 || b == 0x8a || b == 0x8c || b == 0x8e ||
		             b == 0x9a || b == 0x9c || b == 0x9e || b == 0x9f;
		bool dans = debut || b == '-' || b == '.' ||
		            (b >= '0' && b <= '9') || b == 0xb7;
		c.t[b] = (unsigned char)((debut ? 1 : 0) | (dans ? 2 : 0));
	}
	return c;
}();

/*
 * The length of the reference at p, a '&', when it is one a reader
 * resolves without a DTD: one of the five that XML defines, or a
 * character reference to a character XML allows.  0 when the '&' is text.
 */
size_t
reference(const char *p, const char *fin)
{
	const char *s = p + 1;

	if (s < fin && *s == '#') {
		bool hex = ++s < fin && *s == 'x';
		unsigned long v = 0;
		const char *d = s + (hex ? 1 : 0);
		auto [e, faute] = std::from_chars(d, fin, v, hex ? 16 : 10);
		if (faute == std::errc::result_out_of_range)
			v = 0x110000; /* past every character */
		if (e == d || e == fin || *e != ';' || !caractere(v))
			return 0;
		return (size_t)(e + 1 - p);
	}
	static const char *const CONNUES[] = {
	    "amp", "lt", "gt", "quot", "apos"};
	const char *e = nomxml(s, fin);
	if (e == s || e == fin || *e != ';')
		return 0;
	for (const char *c : CONNUES)
		if ((size_t)(e - s) == std::strlen(c) &&
		    std::memcmp(s, c, (size_t)(e - s)) == 0)
			return (size_t)(e + 1 - p);
	return 0;
}

/* Whether XML allows the character c in a document. */
static bool
caractere(unsigned long c)
{
	return c == 9 || c == 10 || c == 13 || (c >= 0x20 && c < 0xd800) ||
	       (c >= 0xe000 && c < 0xfffe) || (c >= 0x10000 && c < 0x110000);
}

/* Past the blanks of XML (space, TAB, CR, LF) at p. */
const char *
blancsxml(const char *p, const char *fin)
{
	while (p < fin && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
		p++;
	return p;
}

/* The end of the name at p, or p when none begins there. */
const char *
nomxml(const char *p, const char *fin)
{
	if (p == fin || (CLASSE.t[(unsigned char)*p] & 1) == 0)
		return p;
	while (++p < fin && (CLASSE.t[(unsigned char)*p] & 2) != 0)
		;
	return p;
}

/*
 * Read the markup at p, a '<', up to fin at most; lf tells that a line
 * end follows fin.  What it is, where it ends, and the name it holds.
 */
Sorte
lexer(const char *p, const char *fin, bool lf, Lu *lu)
{
	size_t n = (size_t)(fin - p);
	const char *s;

	lu->suite = nullptr;
	lu->nom = p + (n >= 2 && (p[1] == '?' || p[1] == '/') ? 2 : 1);
	s = nomxml(lu->nom, fin); /* none after "<!" */
	lu->lnom = (size_t)(s - lu->nom);
	if (n >= 2 && p[1] == '!') {
		bool cdata = n >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0;
		if (!cdata && (n < 4 || std::memcmp(p, "<!--", 4) != 0)) {
			lu->raison = R_DECLARATION;
			return MAUVAISE;
		}
		lu->ouvert = cdata ? CDATA : COMMENTAIRE;
		s = finbloc(lu->ouvert, p + (cdata ? 9 : 4), fin, lu);
	} else if (n >= 2 && p[1] == '?') {
		/* A target that is a name, but not xml in any case, and a
		 * blank before what follows it, unless that is ?>. */
		lu->ouvert = INSTRUCTION;
		lu->raison = R_PIMAL;
		if (lu->lnom == 0)
			return MAUVAISE;
		if (lu->lnom == 3 && (p[2] | 0x20) == 'x' &&
		    (p[3] | 0x20) == 'm' && (p[4] | 0x20) == 'l') {
			lu->raison = R_XML;
			return MAUVAISE;
		}
		if (fin - s >= 2 && s[0] == '?' && s[1] == '>') {
			lu->suite = s + 2;
			return COMPLETE;
		}
		if (s == fin ? !lf : blancsxml(s, fin) == s)
			return MAUVAISE;
		s = finbloc(INSTRUCTION, s, fin, lu);
	} else if (n >= 2 && p[1] == '/') {
		s = blancsxml(s, fin);
		lu->raison = s == fin ? R_INACHEVEE : R_BALISE;
		if (lu->lnom == 0 || s == fin || *s != '>')
			return MAUVAISE;
		lu->suite = s + 1;
		return BALISEFIN;
	} else if (lu->lnom == 0) {
		lu->raison = R_INFERIEUR;
		return MAUVAISE;
	} else
		return attributsde(s, fin, lu);
	if (s == nullptr)
		return ENCOURS;
	return lu->suite == nullptr ? MAUVAISE : COMPLETE;
}

/*
 * Read the rest of a start or empty-element tag from p, past its name:
 * attributes, each a name, '=' and a quoted value, blanks before each, no
 * name twice; then '>' or '/>'.
 */
static Sorte
attributsde(const char *p, const char *fin, Lu *lu)
{
	nattributs = 0;
	for (;;) {
		const char *s = blancsxml(p, fin), *e, *v;
		lu->raison = R_INACHEVEE;
		if (s == fin || (*s == '/' && s + 1 == fin))
			return MAUVAISE;
		if (*s == '>' || (*s == '/' && s[1] == '>')) {
			lu->suite = s + (*s == '>' ? 1 : 2);
			return *s == '>' ? OUVRANTE : VIDE;
		}
		lu->raison = R_BALISE;
		if (s == p || (e = nomxml(s, fin)) == s)
			return MAUVAISE;
		if ((v = blancsxml(e, fin)) < fin && *v == '=')
			v = blancsxml(v + 1, fin);
		else if (v < fin)
			return MAUVAISE;
		char q = 0; /* none when the value is cut at fin */
		if (v < fin && (q = *v++) != '"' && q != '\'')
			return MAUVAISE;
		while (v < fin && *v != q) {
			size_t k = *v == '&'   ? reference(v, fin)
			           : *v == '<' ? 0
			                       : 1;
			if (k == 0)
				return MAUVAISE;
			v += k;
		}
		if (v == fin) {
			lu->raison = R_INACHEVEE;
			return MAUVAISE;
		}
		if (repete(s, (size_t)(e - s))) {
			lu->raison = R_DOUBLE;
			lu->nom = s;
			lu->lnom = (size_t)(e - s);
			return MAUVAISE;
		}
		p = v + 1;
	}
}

/*
 * Whether the attribute name [a, a + n) was already given in this tag; it
 * is kept for the next ones.  A few are compared one by one, then a table
 * finds them, so that no tag takes time to the square of its length.
 */
static bool
repete(const char *a, size_t n)
{
	const size_t PEU = 16;

	if (nattributs == placeattributs)
		attributs = (Attribut *)agrandir(
		    attributs, &placeattributs, sizeof *attributs, 64);
	attributs[nattributs] = {a, n};
	if (nattributs < PEU) {
		for (size_t i = 0; i < nattributs; i++)
			if (attributs[i].lnom == n &&
			    std::memcmp(attributs[i].nom, a, n) == 0)
				return true;
		nattributs++;
		return false;
	}
	if (nattributs == PEU || 2 * (nattributs + 1) > placetable) {
		if (2 * (nattributs + 1) > placetable) {
			std::free(table);
			placetable = std::bit_ceil(
			    std::max<size_t>(64, 4 * (nattributs + 1)));
			table = (Case *)std::calloc(placetable, sizeof *table);
			if (table == nullptr)
				erreur(LIRE);
		}
		if (++generation == 0) {
			std::memset(table, 0, placetable * sizeof *table);
			generation = 1;
		}
		for (size_t i = 0; i < nattributs; i++)
			(void)inserer(i);
	}
	if (inserer(nattributs))
		return true;
	nattributs++;
	return false;
}

/* Put attribute i in the tag's table; true when its name is there already. */
static bool
inserer(size_t i)
{
	const Attribut &a = attributs[i];
	std::uint32_t h = 2166136261u; /* FNV-1a */

	for (size_t k = 0; k < a.lnom; k++)
		h = (h ^ (unsigned char)a.nom[k]) * 16777619u;
	for (size_t k = h & (placetable - 1);; k = (k + 1) & (placetable - 1)) {
		Case &c = table[k];
		if (c.generation != generation) {
			c = {generation, (std::uint32_t)i};
			return false;
		}
		const Attribut &b = attributs[c.indice];
		if (b.lnom == a.lnom && std::memcmp(b.nom, a.nom, a.lnom) == 0)
			return true;
	}
}

/*
 * Where the comment, CDATA section or PI whose body goes on at p ends, or
 * nullptr while open at fin: lu->suite past its end, or nullptr with
 * lu->raison when the body is not well-formed (a comment's "--").
 */
const char *
finbloc(Etat e, const char *p, const char *fin, Lu *lu)
{
	const char c = e == COMMENTAIRE ? '-' : e == CDATA ? ']' : '?';

	lu->suite = nullptr;
	lu->raison = R_TIRETS;
	for (; fin - p >= 2; p++) {
		if (p[0] != c || p[1] != (e == INSTRUCTION ? '>' : c))
			continue;
		if (e == INSTRUCTION || (fin - p >= 3 && p[2] == '>'))
			lu->suite = p + (e == INSTRUCTION ? 2 : 3);
		if (lu->suite != nullptr || e == COMMENTAIRE)
			return p; /* or a comment's "--" not followed by '>' */
	}
	return nullptr;
}

/* Free the tables of a tag's attributes: the run is over. */
void
fermerattributs()
{
	std::free(attributs);
	std::free(table);
	attributs = nullptr;
	table = nullptr;
	placeattributs = placetable = 0;
}

/*
 * Make room in the table p of *place elements of taille bytes: double it,
 * or give it premier.  A failure ends the run, as a line too long does.
 */
void *
agrandir(void *p, size_t *place, size_t taille, size_t premier)
{
	size_t n = *place == 0 ? premier : 2 * *place;
	void *q = std::realloc(p, n * taille);

	if (q == nullptr)
		erreur(LIRE);
	*place = n;
	return q;
}
